// The ODBC backend without a SQL Server: the driver is there, and a connect to a closed
// port fails cleanly and within the time-out.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "db/Db.h"

using namespace qv::db;

namespace {

// A local TCP port with nothing listening on it: bind one, read its number, close it.
int UnusedPort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  int port = ntohs(a.sin_port);
  close(s);
  return port;
}

TEST(Odbc, FreeTdsDriverIsFound) {
  std::string d = FindFreeTdsDriver();
  EXPECT_FALSE(d.empty()) << "install tdsodbc (Debian) so that unixODBC can load FreeTDS";
}

void ExpectFastCleanFailure(const std::string& connStr, int timeout) {
  TADOConnection c(connStr);
  c.SetConnectionTimeout(timeout);
  auto t0 = std::chrono::steady_clock::now();
  try {
    c.Open();
    FAIL() << "connected to a closed port?";
  } catch (const EDatabaseError& e) {
    auto secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LE(secs, timeout + 1.0);
    EXPECT_EQ(e.Kind(), TErrorKind::Connect) << e.what();
    EXPECT_NE(std::string(e.what()), "");
    // IM002/IM003: the driver manager could not find or load the driver
    EXPECT_NE(e.SqlState(), "IM002") << e.what();
    EXPECT_NE(e.SqlState(), "IM003") << e.what();
    // unixODBC's own complaint ("Can't open lib ...") means the driver did not load
    EXPECT_EQ(std::string(e.what()).find("[Driver Manager]"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("FreeTDS"), std::string::npos) << e.what();
  }
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(c.RoundTrips(), 0u);
}

TEST(Odbc, ClosedPortFailsFastAndCleanly) {
  int port = UnusedPort();
  ExpectFastCleanFailure(
      "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=vqerp;User ID=sa;"
      "Password=x;Data Source=127.0.0.1," +
          std::to_string(port),
      3);
}

TEST(Odbc, ClosedPortThroughADriverString) {
  int port = UnusedPort();
  ExpectFastCleanFailure("Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(port) +
                             ";UID=sa;PWD=x;Database=vqerp;TDS_Version=7.4",
                         2);
}

TEST(Odbc, ClosedConnectionOperationsThrow) {
  TADOConnection c("Provider=SQLOLEDB.1;Data Source=127.0.0.1,1");
  TADOQuery q(&c);
  q.SetSQL("Select @@CONNECTIONS");
  EXPECT_THROW(q.Open(), EDatabaseError);
  TADOStoredProc sp(&c);
  sp.SetProcedureName("MT_Get_Shop_Info");
  EXPECT_THROW(sp.Parameters().Refresh(), EDatabaseError);
  EXPECT_THROW(sp.Open(), EDatabaseError);
  EXPECT_THROW(sp.ParamByName("@iMTNo"), EDatabaseError);
  EXPECT_THROW(c.Execute("select 1"), EDatabaseError);
}

}  // namespace

// The ODBC backend's mechanics (execute, fetch, SQLProcedureColumns, positional binding,
// output parameters after SQLMoreResults) against the test PostgreSQL server through the
// psqlODBC driver, when that driver is installed (Debian: odbc-postgresql). FreeTDS and
// SQL Server cannot run here; this is the nearest real check of the ODBC code path.
namespace {

std::string PsqlOdbcString() {
  const char* pg = std::getenv("QV_TEST_PG");
  if (!pg || !*pg) return {};
  std::string s = pg;
  size_t h = s.find("host=");
  if (h == std::string::npos) return {};
  std::string host = s.substr(h + 5, s.find(' ', h) - h - 5);
  return "Driver={PostgreSQL Unicode};Servername=" + host + ";Database=demo;UID=postgres";
}

TEST(Odbc, BackendMechanicsThroughPsqlOdbc) {
  std::string cs = PsqlOdbcString();
  if (cs.empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
  TADOConnection c(cs);
  try {
    c.Open();
  } catch (const EDatabaseError& e) {
    GTEST_SKIP() << "psqlODBC not usable (install odbc-postgresql to run this test): " << e.what();
  }
  EXPECT_EQ(c.Backend(), TBackend::ODBC);
  std::string fn = "qvodbc" + std::to_string(getpid());
  c.Execute(
      "create function public." + fn +
      "(a integer, b varchar, out r integer, out s varchar) language sql as $$ select a * 2, b || '!' $$");
  struct Drop {
    TADOConnection& c;
    std::string fn;
    ~Drop() {
      try {
        c.Execute("drop function public." + fn);
      } catch (...) {
      }
    }
  } drop{c, fn};

  TADOQuery q(&c);
  q.SetSQL(
      "select 12.50::numeric(10,2) as f, 'ab'::char(4) as c, null::int as n, 0.1::float8 as d, "
      "'凉菜'::text as z, '2024-01-02 03:04:05.250'::timestamp as t, g from generate_series(1, 300) g");
  c.ResetRoundTrips();
  q.Open();
  EXPECT_EQ(c.RoundTrips(), 1u);
  ASSERT_EQ(q.RecordCount(), 300);
  EXPECT_EQ(q.FieldByName("f").AsString(), "12.5");
  EXPECT_EQ(q.FieldByName("c").AsString(), "ab  ");
  EXPECT_TRUE(q.FieldByName("n").IsNull());
  EXPECT_EQ(q.FieldByName("d").AsString(), "0.1");
  EXPECT_EQ(q.FieldByName("z").AsString(), "凉菜");
  EXPECT_EQ(q.FieldByName("t").AsString(), "2024-01-02 03:04:05");
  EXPECT_TRUE(q.Locate("g", "300"));

  TADOStoredProc sp(&c);
  sp.SetProcedureName(fn);
  ASSERT_TRUE(sp.Parameters().Refresh());
  ASSERT_EQ(sp.Parameters().Count(), 4);
  EXPECT_EQ(sp.Parameters()[0].DataType(), TFieldType::ftInteger);
  EXPECT_EQ(sp.Parameters()[2].Direction(),
            TParameterDirection::pdOutput);  // SQL Server reports INPUT_OUTPUT
  sp.ParamByName("a").SetString("21");
  EXPECT_THROW(sp.ParamByName("a").SetString("x"), EDatabaseError);
  sp.ParamByName("b").SetString("凉菜");
  c.ResetRoundTrips();
  sp.ExecProc();
  EXPECT_EQ(c.RoundTrips(), 1u);
  EXPECT_EQ(sp.ParamByName("r").AsInteger(), 42);
  EXPECT_EQ(sp.ParamByName("s").AsString(), "凉菜!");

  TADOStoredProc missing(&c);
  missing.SetProcedureName(fn + "_none");
  EXPECT_FALSE(missing.Parameters().Refresh());

  // Placeholders take their values apart from the statement.
  q.SetSQL("select count(*) as n from pg_catalog.pg_database where datname = ? or datname = ?");
  q.SetParams({"demo", "x' or '1'='1"});
  q.Open();
  EXPECT_EQ(q.FieldByName("n").AsString(), "1");
  q.SetParams({});

  q.SetSQL("select * from no_such_table_qv");
  try {
    q.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::General);
    EXPECT_NE(std::string(e.what()).find("no_such_table_qv"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(c.Connected());

  // The command time-out reaches the driver: a long request is cancelled, the link stays.
  c.SetCommandTimeout(1);
  q.SetSQL("select pg_sleep(5) as s");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(q.Open(), EDatabaseError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << "waited out the sleep";
  EXPECT_TRUE(c.Connected());
}

}  // namespace

// The ODBC backend without a SQL Server: the driver is there, and a connect to a closed
// port fails cleanly and within the time-out.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "bridge/db/Db.h"

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
  ExpectFastCleanFailure("Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=vqerp;User ID=sa;"
                         "Password=x;Data Source=127.0.0.1," + std::to_string(port),
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

// A request that waits through the connection's wait hook, against the real server: on
// PostgreSQL through libpq, and on the ODBC backend through the PostgreSQL ODBC driver (the
// only ODBC server there is here). The hook stands for the service's event loop: it waits in
// short slices and, from inside the wait, can try a second request, close the connection or
// give the request up.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>
#include <set>
#include <string>

#include "db/Db.h"

using namespace qv::db;
using Clock = std::chrono::steady_clock;

namespace {

class TSliceWait : public IDbWait {
 public:
  explicit TSliceWait(TADOConnection& c) : conn_(c) {}
  TResult WaitReadable(int Fd, int TimeoutMs) override {
    ++calls;
    fds.insert(Fd);
    if (!conn_.Busy()) notBusy = true;
    if (during) during();
    if (cancelAfter >= 0 && Clock::now() - start_ >= std::chrono::milliseconds(cancelAfter)) {
      ++cancels;
      return TResult::Cancelled;
    }
    pollfd p{Fd, POLLIN, 0};
    const int slice = TimeoutMs < 0 ? 50 : std::min(TimeoutMs, 50);
    return poll(&p, 1, slice) > 0 ? TResult::Ready : TResult::TimedOut;
  }
  void Restart() { start_ = Clock::now(); }

  int calls = 0, cancels = 0;
  bool notBusy = false;
  std::set<int> fds;
  int cancelAfter = -1;  // ms after Restart(), -1 never
  std::function<void()> during;

 private:
  TADOConnection& conn_;
  Clock::time_point start_ = Clock::now();
};

std::string Pg() {
  const char* s = std::getenv("QV_TEST_PG");
  return s ? s : "";
}

// "host=DIR dbname=DB user=U" as a PostgreSQL ODBC driver string; "" when the driver is not
// installed.
std::string PgOdbc(const std::string& pg) {
  const char* drivers[] = {"/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so", "/usr/lib/odbc/psqlodbcw.so"};
  std::string driver;
  for (const char* d : drivers)
    if (std::filesystem::exists(d)) driver = d;
  if (driver.empty()) return {};
  auto value = [&pg](const std::string& key) {
    const size_t at = pg.find(key + "=");
    if (at == std::string::npos) return std::string();
    const size_t from = at + key.size() + 1, end = pg.find(' ', from);
    return pg.substr(from, end == std::string::npos ? std::string::npos : end - from);
  };
  return "Driver=" + driver + ";Servername=" + value("host") + ";Port=5432;Database=" + value("dbname") +
         ";UID=" + value("user") + ";PWD=;";
}

struct TBackendCase {
  const char* name;
  std::function<std::string()> conn;
};
void PrintTo(const TBackendCase& c, std::ostream* os) {
  *os << c.name;
}

class WaitHook : public ::testing::TestWithParam<TBackendCase> {
 protected:
  void SetUp() override {
    if (Pg().empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
    cs_ = GetParam().conn();
    if (cs_.empty()) GTEST_SKIP() << "no driver for this backend";
    conn_.SetConnectionString(cs_);
    conn_.Open();
    conn_.SetWaitHook(&hook_);
  }
  // Runs the statement and gives the one value of its one row.
  std::string Scalar(const std::string& sql) {
    TADOQuery q(&conn_);
    q.SetSQL(sql);
    q.Open();
    return q.Fields(0).AsString();
  }

  std::string cs_;
  TADOConnection conn_;
  TSliceWait hook_{conn_};
};

TEST_P(WaitHook, ASlowRequestWaitsThroughTheHookAndAnswers) {
  EXPECT_EQ(Scalar("select 'late' as v from pg_sleep(0.6)"), "late");
  // 50 ms slices over 600 ms: the hook had the thread again and again, on one descriptor.
  EXPECT_GE(hook_.calls, 5);
  EXPECT_EQ(hook_.fds.size(), 1u);
  EXPECT_FALSE(hook_.notBusy) << "the connection must read busy while its request waits";
  EXPECT_FALSE(conn_.Busy());
}

TEST_P(WaitHook, ASecondRequestFromInsideTheWaitIsRefused) {
  std::string second;
  hook_.during = [&] {
    if (!second.empty()) return;
    try {
      Scalar("select 1");
      second = "ran";
    } catch (const EDatabaseError& e) {
      second = e.Kind() == TErrorKind::State ? "refused" : std::string("other: ") + e.what();
    }
  };
  EXPECT_EQ(Scalar("select 'first' as v from pg_sleep(0.3)"), "first");
  EXPECT_EQ(second, "refused");
  hook_.during = nullptr;
  EXPECT_EQ(Scalar("select 2"), "2") << "the connection is as good as before";
}

TEST_P(WaitHook, CloseFromInsideTheWaitTakesEffectWhenTheRequestEnds) {
  TADOQuery q(&conn_);
  bool closed = false;
  hook_.during = [&] {
    if (closed) return;
    closed = true;
    conn_.Close();
    EXPECT_TRUE(conn_.Busy());
  };
  q.SetSQL("select 'x' as v from pg_sleep(0.3)");
  q.Open();
  EXPECT_TRUE(closed);
  EXPECT_FALSE(conn_.Connected());
  EXPECT_FALSE(q.Active()) << "a result must not land on a closed connection's dataset";
  conn_.Open();
  EXPECT_EQ(Scalar("select 3"), "3");
}

TEST_P(WaitHook, GivingUpCancelsTheRequestOnTheServer) {
  conn_.SetCommandTimeout(120);
  hook_.cancelAfter = 300;
  hook_.Restart();
  const auto t0 = Clock::now();
  try {
    // Were the cancel lost, this would wait out the whole sleep and then answer.
    Scalar("select 'never' as v from pg_sleep(60)");
    FAIL() << "the request was not cancelled";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::Cancelled) << e.what();
    EXPECT_FALSE(e.LinkLost());
  }
  EXPECT_LT(Clock::now() - t0, std::chrono::seconds(30));
  EXPECT_EQ(hook_.cancels, 1) << "one cancel, then the answer to it without the hook";
  hook_.cancelAfter = -1;
  EXPECT_TRUE(conn_.Connected());
  EXPECT_EQ(Scalar("select 4"), "4") << "the session survives the cancel";
}

TEST_P(WaitHook, ParameterRefreshWaitsThroughTheHookToo) {
  const std::string name = "qvt" + std::to_string(getpid()) + "_described";
  conn_.Execute("create or replace procedure public." + name +
                "(a integer, inout b integer) language plpgsql as $$ begin b := a; end $$");
  TADOStoredProc sp(&conn_);
  sp.SetProcedureName(name);
  const int before = hook_.calls;
  const bool found = sp.Parameters().Refresh();
  conn_.Execute("drop procedure public." + name);
  EXPECT_TRUE(found);
  EXPECT_EQ(sp.Parameters().Count(), 2);
  EXPECT_GT(hook_.calls, before);
}

TEST_P(WaitHook, WithoutAHookTheRequestBlocksAsBefore) {
  conn_.SetWaitHook(nullptr);
  EXPECT_EQ(Scalar("select 'plain' as v from pg_sleep(0.2)"), "plain");
  EXPECT_EQ(hook_.calls, 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, WaitHook,
                         ::testing::Values(TBackendCase{"libpq", [] { return Pg(); }},
                                           TBackendCase{"odbc", [] { return PgOdbc(Pg()); }}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

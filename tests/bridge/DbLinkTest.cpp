// The database link when the server goes away and comes back: against a server of the
// test's own that it stops and starts, on a clock of the test's own for the check's gap.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PgFixture.h"
#include "TempHome.h"
#include "bridge/DbLink.h"
#include "bridge/SharePool.h"
#include "bridge/SqlExec.h"

namespace qv {
namespace {

class DbLinkRestart : public ::testing::Test {
 protected:
  void SetUp() override {
    QV_NEED_PG();
    pg = std::make_unique<test::PrivateServer>();
    home.WriteIni("[ConnectionString]\nconnstring=" + pg->ConnStr() + "\n");
    FreeShareDataSetList();
    ResetDbLink();
    SetLinkCheckClock([this] { return now; });
    SetLinkCheckedHook([this] { ++checks; });
  }
  void TearDown() override {
    SetLinkCheckClock({});
    SetLinkCheckedHook({});
    FreeShareDataSetList();
    ResetDbLink();
  }
  // One read of the demo's dish categories (a fresh execution each time).
  int ReadSorts() {
    std::string text, result;
    int flag = -1;
    return cb_Read_Data_SQLPROC("W-DEPT", 5, text, &flag, result);
  }
  // One save: a table operation the demo refuses with its own code for an unknown table.
  int SaveOp() {
    std::string result;
    return cb_Save_Data_SQLPROC("RT-TABLEOUT", 5, R"("NOSUCH","1001")", result, true);
  }

  test::TTempHome home{test::kWithTrace};
  std::unique_ptr<test::PrivateServer> pg;
  int64_t now = 100000;
  int checks = 0;
};

// A request that finds the link lost checks it at once, so the first request after the
// server is back is served without waiting for the link timer; while the server is away the
// check runs at most once in the gap.
TEST_F(DbLinkRestart, FirstRequestAfterTheServerIsBackIsServed) {
  ASSERT_TRUE(ConnectDatabase(pg->ConnStr()));
  ASSERT_EQ(ReadSorts(), 0);
  EXPECT_EQ(checks, 0);  // a link that is up costs nothing extra

  pg->Stop();
  EXPECT_NE(ReadSorts(), 0);
  EXPECT_EQ(checks, 1);  // the broken request checked at once: the link is down
  EXPECT_FALSE(GetDbLinked());

  pg->Start();
  now += kLinkCheckGapMs - 1;
  EXPECT_NE(ReadSorts(), 0);  // within the gap: no new check yet
  EXPECT_EQ(checks, 1);
  EXPECT_FALSE(GetDbLinked());

  now += 1;
  EXPECT_EQ(ReadSorts(), 0);  // the check reconnects first, the request is served
  EXPECT_EQ(checks, 2);
  EXPECT_TRUE(GetDbLinked());
  EXPECT_NE(SaveOp(), 0);  // the procedure's own refusal: the link stays up, no check
  EXPECT_EQ(checks, 2);
  EXPECT_TRUE(DbLinkUp());
}

// A server that comes back before anybody noticed it was gone: the request that meets the
// dead session fails, and its check opens a new one, so the next request is served.
TEST_F(DbLinkRestart, RestartBetweenTwoRequests) {
  ASSERT_TRUE(ConnectDatabase(pg->ConnStr()));
  ASSERT_EQ(ReadSorts(), 0);
  pg->Stop();
  pg->Start();
  EXPECT_NE(ReadSorts(), 0);
  EXPECT_EQ(checks, 1);
  EXPECT_TRUE(DbLinkUp());
  EXPECT_EQ(ReadSorts(), 0);
  EXPECT_EQ(checks, 1);
}

// Never linked (the server was away when the program started): the first request connects.
TEST_F(DbLinkRestart, RequestConnectsWhenNeverLinked) {
  EXPECT_EQ(ReadSorts(), 0);
  EXPECT_EQ(checks, 1);
  EXPECT_TRUE(GetDbLinked());
}

}  // namespace
}  // namespace qv

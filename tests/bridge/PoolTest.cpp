#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TempHome.h"
#include "VirtualLoop.h"
#include "bridge/SharePool.h"

namespace qv {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FreeShareDataSetList();
    clock.SetWallTime(std::chrono::system_clock::time_point(1'700'000'000s));
  }
  void TearDown() override { FreeShareDataSetList(); }
  size_t Count() { return SHARE_DATASET_LIST().Items.size(); }

  test::TTempHome home{test::kWithTrace};
  test::TVirtualClock clock;
};

TEST_F(PoolTest, OneEntryPerTerminalAndGroup) {
  TShareDataSetPtr a, b, c, d;
  ASSERT_TRUE(getShareDataset(5, "WPLU", a));
  ASSERT_TRUE(getShareDataset(6, "WPLU", b));
  ASSERT_TRUE(getShareDataset(5, "wplu", c));  // groups are upper-cased
  ASSERT_TRUE(getShareDataset(5, "RTOPENTABLE", d));
  EXPECT_EQ(a->getDataSet()->Name(), "SQLProcWPLU5");
  EXPECT_EQ(b->getDataSet()->Name(), "SQLProcWPLU6");
  EXPECT_EQ(c, a);
  EXPECT_NE(d, a);
  EXPECT_EQ(d->getGroup(), "RTOPENTABLE");
  EXPECT_EQ(Count(), 3u);
  EXPECT_EQ(a->getDataSet()->LockType(), db::TLockType::ltReadOnly);
  EXPECT_EQ(a->getDataSet()->Tag(), 0);
  EXPECT_FALSE(a->getFreeFlag());
}

TEST_F(PoolTest, NewEntryLogLines) {
  TShareDataSetPtr e;
  ASSERT_TRUE(getShareDataset(12, "RTMEMU", e));
  EXPECT_THAT(home.ResultLog(),
              ElementsAre("newShareDataset(12,RTMEMU)", "add to SHARE_DATASET_LIST now",
                          "add to SHARE_DATASET_LIST complete DateSet.name=SQLProcRTMEMU12"));
}

TEST_F(PoolTest, InvalidComponentNameGivesNoEntry) {
  TShareDataSetPtr e;
  EXPECT_FALSE(getShareDataset(-1, "WPLU", e));
  EXPECT_EQ(e, nullptr);
  EXPECT_EQ(Count(), 0u);
  const auto log = home.ResultLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "newShareDataset(-1,WPLU)");
  EXPECT_THAT(log[1], HasSubstr("newShareDataset \"SQLProcWPLU-1\" except:"));
  EXPECT_THAT(home.ErrLog(), ElementsAre(HasSubstr("get_Valid_ShareDataset Except:")));
}

TEST_F(PoolTest, SweepRemovesEntriesIdleThirtyWholeSeconds) {
  TShareDataSetPtr old, fresh, touched;
  ASSERT_TRUE(getShareDataset(1, "WDEPT", old));
  ASSERT_TRUE(getShareDataset(2, "WDEPT", touched));
  clock.Advance(1000);
  ASSERT_TRUE(getShareDataset(3, "WDEPT", fresh));
  clock.Advance(15000);
  ASSERT_TRUE(getShareDataset(2, "WDEPT", touched));  // a lookup stamps the entry again
  clock.Advance(14000);                               // old: 30 s, fresh: 29 s, touched: 14 s
  clock.Advance(999);                                 // fractions of a second do not count
  FreeDataSetLink();
  ASSERT_EQ(Count(), 2u);
  EXPECT_EQ(SHARE_DATASET_LIST().Items[0]->getID(), 2);
  EXPECT_EQ(SHARE_DATASET_LIST().Items[1]->getID(), 3);
  clock.Advance(1);  // fresh: 30 s
  FreeDataSetLink();
  ASSERT_EQ(Count(), 1u);
  EXPECT_EQ(SHARE_DATASET_LIST().Items[0]->getID(), 2);
  // A holder of a swept entry keeps a valid, closed object.
  EXPECT_FALSE(old->getDataSet()->Active());
}

TEST_F(PoolTest, FreeShareDataRemovesOnlyItsKey) {
  TShareDataSetPtr a, b;
  ASSERT_TRUE(getShareDataset(7, "RBATCH", a));
  ASSERT_TRUE(getShareDataset(7, "RGOODS", b));
  FreeShareData(*a);
  ASSERT_EQ(Count(), 1u);
  EXPECT_EQ(SHARE_DATASET_LIST().Items[0], b);
  FreeShareData(*a);  // already gone: nothing happens
  EXPECT_EQ(Count(), 1u);
  TShareDataSetPtr again;
  ASSERT_TRUE(getShareDataset(7, "RBATCH", again));
  EXPECT_NE(again, a);  // a released key is created anew
  FreeShareDataSetList();
  EXPECT_EQ(Count(), 0u);
}

TEST_F(PoolTest, LockIsReentrant) {
  std::lock_guard<std::recursive_mutex> outer(SHARE_DATASET_LIST().Lock);
  TShareDataSetPtr e;
  ASSERT_TRUE(getShareDataset(9, "WSHOP", e));
  FreeDataSetLink();
  FreeShareData(*e);
  EXPECT_EQ(Count(), 0u);
}

}  // namespace
}  // namespace qv

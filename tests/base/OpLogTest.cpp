#include "TempHome.h"
#include "base/OpLog.h"

namespace qv::test {
namespace {

struct Recorder : IOpLogView {
  std::vector<std::string> events;
  void RowsCleared() override { events.push_back("cleared"); }
  void RowAdded(const TOpLogRow& r) override {
    events.push_back("added " + r.strPDANo + "|" + r.strType + "|" + r.strValue);
  }
  void LastRowChanged(const TOpLogRow& r) override { events.push_back("changed " + r.strValue); }
};

class OpLogTest : public TempHome {
 protected:
  TOpLog log;
  Recorder view;
  void SetUp() override {
    TempHome::SetUp();
    log.SetView(&view);
  }
};

TEST_F(OpLogTest, TerminalText) {
  struct Case {
    int mode, pda;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, "ALL"},       {0, 7, "0007"}, {0, 123, "0123"}, {0, 1234, "1234"},
      {0, 12345, "12345"}, {1, 0, "ALL"},  {1, 7, "7"},      {1, 12345, "12345"},
  };
  for (const Case& c : cases) {
    SysSet().SYS_SERVER_TYPE = c.mode;
    log.WriteLvLog(c.pda, "t", "v", true);
    EXPECT_EQ(log.Rows().back().strPDANo, c.text) << c.mode << " " << c.pda;
  }
}

TEST_F(OpLogTest, RowLimitClears) {
  SysSet().iMaxLogCount = 50;
  for (int i = 1; i <= 50; ++i) log.WriteLvLog(i, "t", std::to_string(i), true);
  EXPECT_EQ(log.Rows().size(), 50u);
  view.events.clear();
  log.WriteLvLog(51, "t", "51", true);
  ASSERT_EQ(log.Rows().size(), 1u);
  EXPECT_EQ(log.Rows()[0].strValue, "51");
  EXPECT_EQ(view.events, (std::vector<std::string>{"cleared", "added 51|t|51"}));
}

TEST_F(OpLogTest, ZeroOrNegativeLimitClearsBeforeEveryRow) {
  for (int limit : {0, -1}) {
    SysSet().iMaxLogCount = limit;
    for (int i = 0; i < 3; ++i) {
      log.WriteLvLog(1, "t", "v", true);
      EXPECT_EQ(log.Rows().size(), 1u);
    }
  }
}

TEST_F(OpLogTest, UpdateGoesToLastRow) {
  log.WriteLvLog(3, "t", "ignored", false);  // empty: left alone
  EXPECT_TRUE(log.Rows().empty());
  EXPECT_TRUE(view.events.empty());

  log.WriteLvLog(1, "下传菜品信息", "开始", true);
  log.WriteLvLog(2, "查账单", "成功", true);
  log.WriteLvLog(9, "other", "50%", false);
  ASSERT_EQ(log.Rows().size(), 2u);
  EXPECT_EQ(log.Rows()[0].strValue, "开始");
  EXPECT_EQ(log.Rows()[1].strPDANo, "2");
  EXPECT_EQ(log.Rows()[1].strType, "查账单");
  EXPECT_EQ(log.Rows()[1].strValue, "50%");
  EXPECT_EQ(view.events.back(), "changed 50%");
}

TEST_F(OpLogTest, ClearAndProcessWideInstance) {
  log.Clear();
  EXPECT_TRUE(view.events.empty());  // nothing to clear
  log.WriteLvLog(0, "系统提示", "x", true);
  log.Clear();
  EXPECT_TRUE(log.Rows().empty());
  EXPECT_EQ(view.events.back(), "cleared");
  EXPECT_EQ(&OpLog(), &OpLog());
}

}  // namespace
}  // namespace qv::test

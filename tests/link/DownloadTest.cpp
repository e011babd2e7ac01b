// The download steps on the virtual clock with scripted terminals: frames, numbering,
// progress, the end word, broadcasts with their result queries, and the ways a download ends.
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "LinkRig.h"
#include "base/OpLog.h"
#include "link/Download.h"
#include "base/ResultCodes.h"

namespace qv::test {
namespace {

// Records every change the operation log reports.
class TLogTrace : public IOpLogView {
 public:
  void RowsCleared() override { events.push_back("clear"); }
  void RowAdded(const TOpLogRow& row) override {
    events.push_back("add " + row.strPDANo + " " + row.strType + " " + row.strValue);
  }
  void LastRowChanged(const TOpLogRow& row) override { events.push_back("set " + row.strValue); }
  std::vector<std::string> events;
};

bool IsDownWord(uint16_t w) {
  static const std::set<uint16_t> words = {0x0201, 0x0301, 0x0401, 0x0501, 0x0601, 0x0701,
                                           0x0801, 0x0901, 0x0A01, 0x0B01, 0x0C01};
  return words.count(w) != 0;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SysSet() = TStru_SysSet{};
    OpLog().Clear();
    OpLog().SetView(&trace);
    SysSet().SYS_SERVER_TYPE = 0;
    SysSet().ReplyWaitMs = 6000;
    SysSet().iMaxLogCount = 1000;
  }
  void TearDown() override {
    OpLog().SetView(nullptr);
    OpLog().Clear();
  }
  TTempHome home;
  // Rows the fake bridge returns per command.
  TReadRowFn Rows() {
    return [this](const char* kind, int, std::string& text, int* flag, std::string&) {
      const int total = rows[kind];
      if (*flag == -1) served[kind] = 0;
      if (served[kind] >= total) {
        *flag = 0;
        return RC_OK;
      }
      ++served[kind];
      text = "1,1,1,1,1,1,1,1,1,1,1,1,1,1";
      *flag = total;
      return RC_OK;
    };
  }
  TDownload Make() {
    return TDownload(
        rig.link, rig.poller, [this] { return checked; }, Rows());
  }
  // Terminal t answers calls, acknowledges data frames with their own number and answers
  // result queries with OK.
  void Terminal(uint32_t t) {
    rig.port.OnWrite(WordTo(CMD_CALL, t), Answer(TermToPc(t, 0, CMD_ANSWER)));
    rig.port.OnWrite(
        [t](const TBytes& f) { return FrameFieldB(f.data()) == t && IsDownWord(FrameWord(f.data())); },
        [t](const TBytes& f) { return std::vector<TBytes>{TermToPc(t, 0, CMD_OK, f[12])}; });
    rig.port.OnWrite(WordTo(CMD_RESULTQUERY, t), Answer(TermToPc(t, 0, CMD_OK)));
  }
  std::vector<std::pair<uint16_t, uint8_t>> DataFrames() const {
    std::vector<std::pair<uint16_t, uint8_t>> out;
    for (const TWritten& w : rig.port.Written())
      if (w.accepted && IsDownWord(FrameWord(w.bytes.data())))
        out.emplace_back(FrameWord(w.bytes.data()), w.bytes[12]);
    return out;
  }
  std::vector<std::string> Added() const {
    std::vector<std::string> out;
    for (const std::string& e : trace.events)
      if (e.rfind("add ", 0) == 0) out.push_back(e.substr(4));
    return out;
  }

  TPollRig rig;
  TLogTrace trace;
  std::map<std::string, int> rows;
  std::map<std::string, int> served;
  std::vector<int> checked;
};

TEST_F(DownloadTest, TwentyFiveDeptRecordsGoInThreeFramesWithProgress) {
  rows["W-DEPT"] = 25;
  Terminal(5);
  checked = {5};
  TDownload d = Make();
  EXPECT_EQ(d.DownloadData(5, "w-dept"), RC_OK);
  const std::vector<std::pair<uint16_t, uint8_t>> want = {{0x0301, 1}, {0x0301, 2}, {0x0301, 0}};
  EXPECT_EQ(DataFrames(), want);
  const std::vector<std::string> events = {"add 0005 下传菜品分类 ", "set 正在发送:10/25",
                                           "set 正在发送:20/25", "set 正在发送:25/25",
                                           "set " + iErrToStr(RC_OK)};
  EXPECT_EQ(trace.events, events);
  ASSERT_FALSE(rig.port.Written().empty());
  EXPECT_EQ(FrameWord(rig.port.Written().back().bytes.data()), CMD_CLOSE) << "the end word follows";
  EXPECT_EQ(rig.link.CurPDANo, 5);
}

TEST_F(DownloadTest, NoRecordsSendsOneEmptyFrameNumberedZero) {
  Terminal(5);
  TDownload d = Make();
  EXPECT_EQ(d.DownloadData(5, "W-CAUSE"), RC_OK);
  ASSERT_EQ(DataFrames().size(), 1u);
  EXPECT_EQ(DataFrames()[0].second, 0);
  for (const TWritten& w : rig.port.Written())
    if (FrameWord(w.bytes.data()) == 0x0B01) {
      EXPECT_EQ(w.bytes.size(), 16u);
    }
}

TEST_F(DownloadTest, UnknownCommandAndStopSendNothing) {
  TDownload d = Make();
  EXPECT_EQ(d.DownloadData(5, "W-NONE"), RC_BADCMD);
  d.bStopDown = true;
  EXPECT_EQ(d.DownloadData(5, "W-DEPT"), RC_OK);
  d.Run("111111111", true);
  EXPECT_TRUE(rig.port.Written().empty());
  EXPECT_TRUE(trace.events.empty());
}

TEST_F(DownloadTest, BroadcastThenResultQueriesPerCheckedTerminal) {
  rows["W-SHOP"] = 1;
  rows["W-PLU"] = 5;
  rows["W-PLUINDEX"] = 3;
  Terminal(1);
  Terminal(3);
  checked = {1, 3};
  TDownload d = Make();
  d.Run("101", true);
  const std::string ok = iErrToStr(RC_OK);
  // Ordering mode shows terminal numbers with four digits.
  const std::vector<std::string> want = {
      "ALL 下传酒店名称 ",   "0001 下传酒店名称 " + ok,   "0003 下传酒店名称 " + ok,
      "ALL 下传菜品信息 ",   "0001 下传菜品信息 " + ok,   "0003 下传菜品信息 " + ok,
      "ALL 下传菜品助记码 ", "0001 下传菜品助记码 " + ok, "0003 下传菜品助记码 " + ok};
  EXPECT_EQ(Added(), want);
  // Broadcast frames carry terminal 0 and password 0 and get the end word at once.
  const std::vector<std::pair<uint16_t, uint8_t>> frames = {
      {0x0201, 0}, {0x0401, 1}, {0x0401, 0}, {0x0501, 0}};
  EXPECT_EQ(DataFrames(), frames);
  EXPECT_EQ(rig.port.WrittenWithWord(CMD_CLOSE).size(), 3u + 6u);
}

TEST_F(DownloadTest, TerminalByTerminalStopsAtTheFirstFailure) {
  rows["W-SHOP"] = 1;
  Terminal(3);  // terminal 1 never answers its call
  checked = {1, 3};
  TDownload d = Make();
  d.Run("11", false);
  const std::vector<std::string> want = {"0001 下传酒店名称 "};
  EXPECT_EQ(Added(), want);
  EXPECT_EQ(trace.events.back(), "set " + iErrToStr(RC_TIMEOUT));
  EXPECT_TRUE(DataFrames().empty());
  EXPECT_EQ(rig.port.WrittenWithWord(CMD_ER).size(), 1u) << "the terminal gets the reason";
}

TEST_F(DownloadTest, NothingCheckedAndNoBroadcastSendsNothing) {
  rows["W-SHOP"] = 1;
  TDownload d = Make();
  d.Run("111111111", false);
  EXPECT_TRUE(rig.port.Written().empty());
  EXPECT_TRUE(trace.events.empty());
}

TEST_F(DownloadTest, OtherFrameNumberResendsTheSameBytes) {
  rows["W-DEPT"] = 15;
  rig.port.OnWrite(WordTo(CMD_CALL, 5), Answer(TermToPc(5, 0, CMD_ANSWER)));
  // The first data frame is acknowledged once with a wrong number, then properly.
  rig.port.OnWrite(WordTo(0x0301, 5), Answer(TermToPc(5, 0, CMD_OK, 9)), 5, 1);
  rig.port.OnWrite(WordTo(0x0301, 5),
                   [](const TBytes& f) { return std::vector<TBytes>{TermToPc(5, 0, CMD_OK, f[12])}; });
  TDownload d = Make();
  EXPECT_EQ(d.DownloadData(5, "W-DEPT"), RC_OK);
  const std::vector<TWritten> sent = rig.port.WrittenWithWord(0x0301);
  std::vector<int> numbers;
  for (const TWritten& w : sent) numbers.push_back(w.bytes[12]);
  EXPECT_EQ(numbers, (std::vector<int>{1, 1, 0})) << "one resend, then the last frame";
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0].bytes, sent[1].bytes);
}

// A stop of the service while a silent terminal is awaited ends the download at that very
// tick, as a time-out, instead of after every attempt's wait.
TEST_F(DownloadTest, StopRequestEndsTheDownloadAtOnce) {
  rows["W-SHOP"] = 1;
  rows["W-DEPT"] = 1;
  rig.port.OnWrite(WordTo(CMD_CALL, 5), Answer(TermToPc(5, 0, CMD_ANSWER)));  // then silent
  checked = {5};
  TDownload d = Make();
  rig.pump.Post([this] { rig.link.RequestStop(); }, 1000);
  const uint32_t start = rig.clock.GetTickCount();
  d.Run("11", false);
  EXPECT_EQ(rig.clock.GetTickCount() - start, 1000u);
  EXPECT_EQ(trace.events.back(), "set " + iErrToStr(RC_TIMEOUT));
  EXPECT_TRUE(rig.port.WrittenWithWord(0x0301).empty()) << "the next type did not start";
}

TEST_F(DownloadTest, ThreeTimeOutsEndWithSeventeen) {
  rows["W-DEPT"] = 1;
  rig.port.OnWrite(WordTo(CMD_CALL, 5), Answer(TermToPc(5, 0, CMD_ANSWER)));
  TDownload d = Make();
  EXPECT_EQ(d.DownloadData(5, "W-DEPT"), RC_TIMEOUT);
  EXPECT_EQ(rig.port.WrittenWithWord(0x0301).size(), 3u);
}

TEST_F(DownloadTest, TerminalErrorEndsTheTransfer) {
  rows["W-DEPT"] = 1;
  rig.port.OnWrite(WordTo(CMD_CALL, 5), Answer(TermToPc(5, 0, CMD_ANSWER)));
  rig.port.OnWrite(WordTo(0x0301, 5), Answer(TermErr(5, 0, RC_SVC_NODBCONN)));
  TDownload d = Make();
  EXPECT_EQ(d.DownloadData(5, "W-DEPT"), RC_SVC_NODBCONN);
  EXPECT_EQ(trace.events.back(), "set " + iErrToStr(RC_SVC_NODBCONN));
}

}  // namespace
}  // namespace qv::test

// The two exchanges on a scripted terminal through the poll cycle, with the bridge faked:
// numbering, acknowledgements, resends, "WT", "ER", the end word, time-outs and the bound
// on a frame that never gets anywhere.
#include <gtest/gtest.h>

#include "DemoCodes.h"
#include "FakeBridge.h"
#include "TermScript.h"
#include <algorithm>

#include "base/Logging.h"
#include "base/OpLog.h"
#include "base/ResultCodes.h"

namespace qv::test {
namespace {

constexpr uint16_t kPlu = 0x0401;   // W-PLU: 4 records of 52 bytes per frame
constexpr uint16_t kShop = 0x0201;  // W-SHOP: 1 record per frame
constexpr uint16_t kDelTable = 0x0804;
constexpr uint16_t kPdIn = 0xA300;

std::vector<std::string> PluRows(int n) {
  std::vector<std::string> rows;
  for (int i = 0; i < n; ++i)
    rows.push_back("\"" + std::to_string(10000 + i) + R"(","01","菜","份",1,0,0,0,0,"C",0)");
  return rows;
}

struct TReadSession : TTermSession {
  TFakeRows rows;
  explicit TReadSession(int type = 0, uint32_t no = 12) : TTermSession(type, no) {
    handler.SetReadRow(rows.Fn());
  }
  std::vector<int> DataFrameNumbers() const {
    std::vector<int> out;
    for (const TPcFrame& f : PcFrames(CMD_OK)) out.push_back(f.frNo);
    return out;
  }
};

TEST(ReadExchange, NineRecordsInFramesOfFour) {
  TReadSession s;
  s.rows.rows = PluRows(9);
  s.Request(kPlu, {});
  s.AckAll();
  EXPECT_EQ(s.Cycle(), RC_OK);
  EXPECT_TRUE(s.failures.empty()) << s.failures.front();
  const auto frames = s.PcFrames(CMD_OK);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(s.DataFrameNumbers(), (std::vector<int>{1, 2, 0}));
  const size_t sizes[] = {4 + 4 * 52, 4 + 4 * 52, 4 + 52};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(frames[i].payload.size(), sizes[i]);
    EXPECT_EQ(GetU32(frames[i].payload.data()), 9u);  // every frame carries the total
    EXPECT_EQ(frames[i].fieldA, 0u);                  // the password
  }
  EXPECT_EQ(std::string(frames[2].payload.begin() + 4, frames[2].payload.begin() + 9), "10008");
  const auto log = s.DayLog();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], FormatCommDayLine(12, "下传菜品信息", RC_OK, "返回OK"));
  ASSERT_EQ(OpLog().Rows().size(), 1u);
  EXPECT_EQ(OpLog().Rows()[0].strValue, "返回OK");
}

TEST(ReadExchange, EmptyResultIsOneEmptyFrameNumberedZero) {
  TReadSession s;
  s.Request(kPlu, {});
  s.AckAll();
  EXPECT_EQ(s.Cycle(), RC_OK);
  const auto frames = s.PcFrames(CMD_OK);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].frNo, 0);
  EXPECT_TRUE(frames[0].payload.empty());
}

TEST(ReadExchange, NumbersRunFrom255BackTo1) {
  TReadSession s;
  for (int i = 0; i < 257; ++i) s.rows.rows.push_back(R"("店","1")");
  s.Request(kShop, {});
  s.AckAll();
  EXPECT_EQ(s.Cycle(), RC_OK);
  const std::vector<int> numbers = s.DataFrameNumbers();
  ASSERT_EQ(numbers.size(), 257u);
  EXPECT_EQ(numbers[254], 255);
  EXPECT_EQ(numbers[255], 1);
  EXPECT_EQ(numbers[256], 0);
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 0), 1);
}

TEST(ReadExchange, AcknowledgementWithAnotherNumberRenumbersTheRest) {
  TReadSession s;
  s.rows.rows = PluRows(9);
  s.Request(kPlu, {});
  s.Reply(CMD_OK, 7);  // frame 1 acknowledged as 7: sent again unchanged
  s.Reply(CMD_OK, 7);  // now it counts as confirmed
  s.AckAll();
  EXPECT_EQ(s.Cycle(), RC_OK);
  EXPECT_EQ(s.DataFrameNumbers(), (std::vector<int>{1, 1, 8, 0}));
  const auto frames = s.PcFrames(CMD_OK);
  EXPECT_EQ(frames[0].payload, frames[1].payload);
}

// An acknowledgement numbered 0 in the middle must not start the rows over.
TEST(ReadExchange, AcknowledgementWithZeroContinuesTheRows) {
  TReadSession s;
  s.rows.rows = PluRows(9);
  s.Request(kPlu, {});
  s.Reply(CMD_OK, 0);
  s.Reply(CMD_OK, 0);
  s.AckAll();
  EXPECT_EQ(s.Cycle(), RC_OK);
  EXPECT_EQ(s.DataFrameNumbers(), (std::vector<int>{1, 1, 1, 0}));
  EXPECT_EQ(std::count(s.rows.flagsIn.begin(), s.rows.flagsIn.end(), -1), 1);
  const auto frames = s.PcFrames(CMD_OK);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(std::string(frames[2].payload.begin() + 4, frames[2].payload.begin() + 9), "10004");
  EXPECT_EQ(std::string(frames[3].payload.begin() + 4, frames[3].payload.begin() + 9), "10008");
}

TEST(ReadExchange, ResendAndWaitAreHonoured) {
  TReadSession s;
  s.rows.rows = PluRows(5);
  s.Request(kPlu, {});
  s.Reply(CMD_RESEND);
  // The resent frame is answered "WT", and the acknowledgement follows a little later
  // into the fresh wait.
  s.Push([&s](const TPcFrame& pc, std::vector<TBytes>& out) {
    out.push_back(TermToPc(s.terminal, 0, CMD_WT));
    s.pump.Deliver(TermToPc(s.terminal, 0, CMD_OK, pc.frNo), 4000);
    return true;
  });
  s.AckAll();
  EXPECT_EQ(s.Cycle(), RC_OK);
  EXPECT_TRUE(s.failures.empty());
  EXPECT_EQ(s.DataFrameNumbers(), (std::vector<int>{1, 1, 0}));
}

TEST(ReadExchange, TerminalEndsOrFails) {
  struct TCase {
    int type;
    uint16_t word;
    uint8_t code;
    int result;
    size_t okFrames;  // data frames, plus the closing empty "OK" in stocktaking mode
    size_t erFrames;
  };
  const TCase cases[] = {
      {0, CMD_END, RC_OK, RC_OK, 1, 0},                     // ordering: nothing more is sent
      {1, CMD_END, RC_OK, RC_OK, 2, 0},                     // stocktaking: an empty "OK" numbered 0 closes
      {0, CMD_ER, RC_OK, RC_OK, 1, 0},                      // "ER" 0 from the terminal is a success
      {0, CMD_ER, RC_TERM_FRAMENO, RC_TERM_FRAMENO, 1, 1},  // echoed with the code's text
  };
  for (const TCase& c : cases) {
    TReadSession s(c.type);
    s.rows.rows = PluRows(9);
    s.Request(kPlu, {});
    if (c.word == CMD_ER)
      s.Reply(CMD_ER, 0, {c.code});
    else
      s.Reply(c.word);
    if (c.erFrames) s.Silent();
    if (c.type == 1) s.Silent();
    EXPECT_EQ(s.Cycle(), c.result);
    EXPECT_EQ(s.PcFrames(CMD_OK).size(), c.okFrames);
    const auto er = s.PcFrames(CMD_ER);
    ASSERT_EQ(er.size(), c.erFrames);
    if (c.erFrames) {
      EXPECT_EQ(er[0].payload[0], c.code);
      EXPECT_EQ(er[0].Text(), "帧序号错");
    }
    if (c.type == 1) {
      const TPcFrame closing = s.PcFrames(CMD_OK).back();
      EXPECT_EQ(closing.frNo, 0);
      EXPECT_TRUE(closing.payload.empty());
    }
    EXPECT_EQ(s.DayLog().size(), 1u);
  }
}

TEST(ReadExchange, TimeOutIsSilent) {
  TReadSession s;
  s.rows.rows = PluRows(9);
  s.Request(kPlu, {});
  s.Silent();
  const uint32_t start = s.clock.GetTickCount();
  EXPECT_EQ(s.Cycle(), RC_TIMEOUT);
  EXPECT_GE(s.clock.GetTickCount() - start, 6000u);
  EXPECT_TRUE(s.PcFrames(CMD_ER).empty());
  EXPECT_TRUE(s.DayLog().empty());
  EXPECT_TRUE(OpLog().Rows().empty());
}

TEST(ReadExchange, BridgeFailureGoesOutAsErWithTheProcedureText) {
  TReadSession s;
  s.rows.result = RC_DEMO_BADOPPSW;
  s.rows.resultText = "操作员密码错误";
  s.Request(0x0204, TPayload(22));
  s.Silent();  // the "ER"
  EXPECT_EQ(s.Cycle(), RC_DEMO_BADOPPSW);
  const auto er = s.PcFrames(CMD_ER);
  ASSERT_EQ(er.size(), 1u);
  EXPECT_EQ(er[0].payload[0], RC_DEMO_BADOPPSW);
  EXPECT_EQ(er[0].Text(), "操作员密码错误");
  EXPECT_EQ(s.DayLog(),
            (std::vector<std::string>{FormatCommDayLine(12, "登陆", RC_DEMO_BADOPPSW, "操作员密码错误")}));
}

// A row call that fails after earlier ones succeeded is reported with its own text (here
// none, so the code's), never with the text the procedure gave the first call.
TEST(ReadExchange, ErCarriesTheFailingCallsOwnText) {
  TReadSession s;
  s.rows.rows = PluRows(9);
  const TReadRowFn rows = s.rows.Fn();
  int calls = 0;
  s.handler.SetReadRow([&](const char* kind, int no, std::string& text, int* flag, std::string& strResult) {
    if (++calls == 5) return RC_SVC_DBOPEN;  // the first row of frame 2: the dataset is gone
    if (*flag == -1) strResult = "查询成功";
    return rows(kind, no, text, flag, strResult);
  });
  s.Request(kPlu, {});
  s.Reply(CMD_OK, 1);
  s.Silent();  // the "ER"
  EXPECT_EQ(s.Cycle(), RC_SVC_DBOPEN);
  const auto er = s.PcFrames(CMD_ER);
  ASSERT_EQ(er.size(), 1u);
  EXPECT_EQ(er[0].payload[0], RC_SVC_DBOPEN);
  EXPECT_EQ(er[0].Text(), iErrToStr(RC_SVC_DBOPEN));
  EXPECT_EQ(s.DayLog(), (std::vector<std::string>{
                            FormatCommDayLine(12, "下传菜品信息", RC_SVC_DBOPEN, iErrToStr(RC_SVC_DBOPEN))}));
}

TEST(ReadExchange, RefusedWriteIsReportedAndLogged) {
  TReadSession s;
  s.rows.rows = PluRows(1);
  s.Request(kPlu, {});
  s.Silent();             // the "ER" after the refused data frame
  s.port.RefuseWrite(2);  // poll, grant, then the data frame
  EXPECT_EQ(s.Cycle(), RC_SENDFAIL);
  EXPECT_EQ(s.PcFrames(CMD_ER).size(), 1u);
  EXPECT_EQ(s.DayLog().size(), 1u);
}

// A terminal that keeps one frame going (resend requests, "WT", or acknowledgements of
// numbers that never repeat) is given up after the reply time-out, silently, like a
// time-out.
TEST(ExchangeBound, EndlessRepeatsOfOneFrameEndIn17) {
  struct TCase {
    bool upload;
    uint16_t word;
  };
  const TCase cases[] = {
      {false, CMD_RESEND}, {false, CMD_WT}, {false, CMD_OK}, {true, CMD_RESEND}, {true, CMD_WT}};
  for (const TCase& c : cases) {
    TReadSession s;
    s.rows.rows = PluRows(9);
    TFakeSaves saves;
    s.handler.SetSaveRecord(saves.Fn());
    if (c.upload)
      s.Request(kDelTable, TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), 0);
    else
      s.Request(kPlu, {});
    int sent = 0;
    int timer = 0;
    uint32_t start = 0;
    // From the first data frame or acknowledgement on, the terminal repeats itself every
    // second whatever the PC writes.
    s.Push([&](const TPcFrame&, std::vector<TBytes>&) {
      if (timer == 0) {
        start = s.clock.GetTickCount();
        timer = s.pump.AddTimer(1000, [&] {
          ++sent;
          s.Receive(TermToPc(s.terminal, 0, c.word, static_cast<uint8_t>(90 + sent % 2)));
        });
      }
      return false;
    });
    EXPECT_EQ(s.Cycle(), RC_TIMEOUT) << c.word << (c.upload ? " upload" : " read");
    s.pump.StopTimer(timer);
    EXPECT_GE(s.clock.GetTickCount() - start, 6000u);
    EXPECT_LT(s.clock.GetTickCount() - start, 7000u);
    EXPECT_GE(sent, 5);
    EXPECT_TRUE(s.PcFrames(CMD_ER).empty());
    EXPECT_TRUE(s.DayLog().empty());
  }
}

// Within the budget the same repeats are honoured (the session tests resend once too).
TEST(ExchangeBound, RepeatsWithinTheBudgetStillSucceed) {
  TReadSession s;
  s.rows.rows = PluRows(1);
  s.Request(kPlu, {});
  for (int i = 0; i < 5; ++i) s.Reply(CMD_RESEND);
  s.AckAll();
  EXPECT_EQ(s.Cycle(), RC_OK);
  EXPECT_EQ(s.DataFrameNumbers(), (std::vector<int>{0, 0, 0, 0, 0, 0}));
}

struct TUploadSession : TTermSession {
  TFakeSaves saves;
  explicit TUploadSession(int type = 1) : TTermSession(type, 31) { handler.SetSaveRecord(saves.Fn()); }
};

TBytes StockRecord(const std::string& bill, const std::string& goods, float qty, int32_t price) {
  return TPayload(60)
      .Text(0, 12, bill)
      .Text(12, 10, "S01")
      .Text(22, 30, goods)
      .Single(52, qty)
      .Money(56, price);
}

TEST(UploadExchange, FramesAreAcknowledgedWithTheirNumberAndTheResultText) {
  TUploadSession s;
  s.Request(kPdIn,
            TPayload().Append(StockRecord("PI1", "G1", 1, 100)).Append(StockRecord("PI1", "G2", 2, 200)), 1);
  s.Reply(CMD_RESEND);  // the acknowledgement is sent again, nothing is saved again
  // Another command word still continues the same upload.
  s.Reply(0x0804, 0, StockRecord("PI2", "G3", 3, 300));
  s.Reply(CMD_END);
  s.Silent();  // the closing "OK"
  EXPECT_EQ(s.Cycle(), RC_OK);
  EXPECT_TRUE(s.failures.empty()) << s.failures.front();
  ASSERT_EQ(s.saves.saved.size(), 3u);
  EXPECT_EQ(s.saves.saved[2].cmd, "W-PDIN");
  EXPECT_EQ((std::vector<bool>{s.saves.saved[0].bLast, s.saves.saved[1].bLast, s.saves.saved[2].bLast}),
            (std::vector<bool>{false, false, true}));
  const auto ok = s.PcFrames(CMD_OK);
  ASSERT_EQ(ok.size(), 4u);
  EXPECT_EQ(ok[0].frNo, 1);
  EXPECT_EQ(ok[1].frNo, 1);
  EXPECT_EQ(ok[0].Text(), "保存成功");
  EXPECT_EQ(ok[2].frNo, 0);
  EXPECT_TRUE(ok[3].payload.empty());
  // ePOS.txt holds every record of the upload.
  EXPECT_EQ(s.EPosLines(),
            (std::vector<std::string>{R"("PI1","S01","G1",1,1.00)", R"("PI1","S01","G2",2,2.00)",
                                      R"("PI2","S01","G3",3,3.00)"}));
  EXPECT_EQ(s.DayLog(), (std::vector<std::string>{FormatCommDayLine(31, "上传入库单", RC_OK, "返回OK")}));
}

// Record 2 of a frame fails after record 1 was saved: the "ER" carries record 2's own text,
// or the code's text when the bridge gave none, never record 1's "saved".
TEST(UploadExchange, ErCarriesTheFailingRecordsOwnText) {
  struct TCase {
    const char* text;  // nullptr: the failing call leaves the text alone
    int code;
    std::string er;
  };
  const TCase cases[] = {{nullptr, RC_SAVEFAIL, iErrToStr(RC_SAVEFAIL)},
                         {"台号不存在", RC_DEMO_NOTABLE, "台号不存在"},
                         {"", RC_SVC_NODBCONN, iErrToStr(RC_SVC_NODBCONN)}};
  for (const TCase& c : cases) {
    TUploadSession s(0);
    int calls = 0;
    s.handler.SetSaveRecord([&](const char*, int, const std::string&, std::string& strResult, bool) {
      if (++calls == 1) {
        strResult = "点菜成功";
        return RC_OK;
      }
      if (c.text) strResult = c.text;
      return c.code;
    });
    s.Request(kDelTable,
              TPayload(16).Text(0, 4, "A01").Text(4, 4, "1001").Text(8, 4, "A02").Text(12, 4, "1001"), 0);
    s.Silent();
    EXPECT_EQ(s.Cycle(), c.code);
    EXPECT_EQ(calls, 2);
    const auto er = s.PcFrames(CMD_ER);
    ASSERT_EQ(er.size(), 1u);
    EXPECT_EQ(er[0].payload[0], c.code);
    EXPECT_EQ(er[0].Text(), c.er) << c.code;
  }
}

// Only the low byte of a code travels: a code that does not fit it must still read as a
// failure (256 would otherwise be "ER" 0, a success, and 257 "wrong password").
TEST(UploadExchange, CodesBeyondTheResultByteGoOutAsFailure) {
  struct TCase {
    int code;
    uint8_t sent;
  };
  const TCase cases[] = {{256, 255}, {512, 255}, {257, 255}, {-1, 255}, {-256, 255}, {255, 255}, {122, 122}};
  for (const TCase& c : cases) {
    TUploadSession s(0);
    s.saves.failAt = 0;
    s.saves.code = c.code;
    s.saves.reply = "";
    s.Request(kDelTable, TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), 0);
    s.Silent();
    EXPECT_EQ(s.Cycle(), c.code);
    const auto er = s.PcFrames(CMD_ER);
    ASSERT_EQ(er.size(), 1u);
    EXPECT_EQ(er[0].payload[0], c.sent) << c.code;
    EXPECT_EQ(er[0].Text(), iErrToStr(c.code));
    EXPECT_EQ(s.DayLog(),
              (std::vector<std::string>{FormatCommDayLine(31, "撤台", c.code, iErrToStr(c.code))}));
  }
}

TEST(UploadExchange, FailuresAreAnsweredWithEr) {
  struct TCase {
    uint16_t code;
    TBytes payload;
    int result;
    const char* text;
    size_t saved;
  };
  const TCase cases[] = {
      {kDelTable, {}, RC_BADFORMAT, "数据格式出错", 0},              // no payload at all
      {kDelTable, TBytes(9, 'A'), RC_BADFORMAT, "数据格式出错", 0},  // not a whole number of records
      {kPdIn, StockRecord("PI1", "G1", 1, 1), RC_OK, "", 1},
  };
  for (const TCase& c : cases) {
    TUploadSession s(0);
    s.Request(c.code, c.payload, 0);
    s.Silent();
    const int r = s.Cycle();
    EXPECT_EQ(r, c.result == RC_OK ? RC_TIMEOUT : c.result);
    EXPECT_EQ(s.saves.saved.size(), c.saved);
    const auto er = s.PcFrames(CMD_ER);
    if (c.result != RC_OK) {
      ASSERT_EQ(er.size(), 1u);
      EXPECT_EQ(er[0].payload[0], c.result);
      EXPECT_EQ(er[0].Text(), c.text);
      EXPECT_EQ(s.DayLog().size(), 1u);
    } else {
      EXPECT_TRUE(er.empty());  // acknowledged, then the terminal went quiet: a silent time-out
      EXPECT_TRUE(s.DayLog().empty());
    }
  }
  TUploadSession s(0);
  s.Request(kDelTable, {}, 0);
  s.Silent();
  s.Cycle();
  EXPECT_NE(s.home.ErrLogText().find("Rec Data Len<16"), std::string::npos);
}

}  // namespace
}  // namespace qv::test

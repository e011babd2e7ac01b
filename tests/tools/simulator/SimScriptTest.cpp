// Script reading and the encoding of request records.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "SimConfig.h"
#include "SimRecords.h"
#include "base/Text.h"
#include "link/Frames.h"

namespace qv::sim {
namespace {

TSimConfig Parse(const std::string& text) {
  TSimConfig cfg;
  std::istringstream in(text);
  ParseScript(in, "s", cfg);
  return cfg;
}

TEST(SimScript, ReadsSettingsTerminalsRequestsAndFaults) {
  const TSimConfig cfg = Parse(R"(
# comment
station -5
version "V1.0 beta"
channel 7
fault drop:every=4
terminal 12 ordering password 99   # trailing comment
fault slow:ms=500,once
request RT-MEMU cTableNo=A01 cMemo="two words"
dish cDishCode=1 cDishName="a \"b\"" fQty=1 fPrice=2
request 0x7777 hex="01 02 ff"
terminal 3 stocktaking
request r-goods text=690
)");
  EXPECT_EQ(cfg.station, -5);
  EXPECT_EQ(cfg.version, "V1.0 beta");
  EXPECT_EQ(cfg.channel, 7);
  ASSERT_EQ(cfg.faults.size(), 1u);
  EXPECT_EQ(cfg.faults[0].when, TFault::TWhen::Every);
  EXPECT_EQ(cfg.faults[0].every, 4);
  ASSERT_EQ(cfg.terminals.size(), 2u);
  const TSimTerminalCfg& t = cfg.terminals[0];
  EXPECT_EQ(t.no, 12u);
  EXPECT_EQ(t.psw, 99u);
  ASSERT_EQ(t.faults.size(), 1u);
  EXPECT_EQ(t.faults[0].kind, TFaultKind::Slow);
  EXPECT_EQ(t.faults[0].ms, 500u);
  EXPECT_EQ(t.faults[0].when, TFault::TWhen::Once);
  ASSERT_EQ(t.requests.size(), 2u);
  EXPECT_EQ(t.requests[0].code, 0x0104);
  EXPECT_EQ(t.requests[0].fields.at("cMemo"), "two words");
  ASSERT_EQ(t.requests[0].records.size(), 1u);
  EXPECT_EQ(t.requests[0].records[0].at("cDishName"), "a \"b\"");
  EXPECT_EQ(t.requests[1].code, 0x7777);
  EXPECT_EQ(t.requests[1].raw, (std::vector<uint8_t>{1, 2, 0xFF}));
  EXPECT_EQ(cfg.terminals[1].mode, TTermMode::Stocktaking);
  EXPECT_EQ(cfg.terminals[1].requests[0].strCmd, "R-GOODS");
  EXPECT_EQ(cfg.terminals[1].requests[0].text, "690");
}

struct TBadScript {
  const char* name;
  const char* text;
  const char* message;  // part of the error, with its line
};

class SimScriptErrors : public ::testing::TestWithParam<TBadScript> {};

TEST_P(SimScriptErrors, NameTheLine) {
  try {
    Parse(GetParam().text);
    FAIL() << "accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find(GetParam().message), std::string::npos) << e.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimScriptErrors,
    ::testing::Values(
        TBadScript{"UnknownField", "terminal 1\nrequest RT-BILL cTable=A01\n", "s:2: unknown field cTable"},
        TBadScript{"BadNumber", "terminal 1\nrequest RT-MEMU\ndish fQty=x\n", "s:3: fQty: not a number"},
        TBadScript{"ByteOutOfRange", "terminal 1\nrequest R-BILLLIST iBillType=256\n", "s:2: iBillType"},
        TBadScript{"BadTime", "terminal 1\nrequest RT-MEMU dtOpTime=20241301000000\n", "s:2: time"},
        TBadScript{"UnknownCommand", "terminal 1\nrequest RT-NOPE\n", "s:2: unknown command"},
        TBadScript{"DishWithoutRequest", "terminal 1\ndish fQty=1\n", "s:2: dish without a request"},
        TBadScript{"RecordsOnARead", "terminal 1\nrequest RT-BILL\nrecord cTableNo=1\n", "s:3:"},
        TBadScript{"FieldsOnATextRead", "terminal 1\nrequest R-GOODS cCode=1\n", "s:2: R-GOODS takes text="},
        TBadScript{"UnclosedQuote", "version \"V1\n", "s:1: unclosed quote"},
        TBadScript{"RequestBeforeTerminal", "request RT-BILL\n", "s:1: unknown setting"},
        TBadScript{"TwiceTheSameTerminal", "terminal 4\nterminal 4\n", "s:2: terminal 4 is defined twice"},
        TBadScript{"BadFault", "fault sometimes\n", "s:1: unknown fault"},
        TBadScript{"BadFaultOption", "fault drop:every=0\n", "s:1: every"},
        TBadScript{"BadRate", "fault drop:rate=2\n", "s:1: rate"},
        TBadScript{"OddHex", "terminal 1\nrequest 0x10 hex=123\n", "s:2: hex"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimRecords, EncodesEveryKindAtItsOffset) {
  const TLayout l = *UploadLayout("RT-RETDISH");
  ASSERT_EQ(l.Size(), 29u);
  const auto r =
      EncodeRecord(l, {{"cTableNo", "ABCDEF"}, {"cDishCode", "12"}, {"fQty", "1.5"}, {"cReason", "咸"}}, 0);
  ASSERT_EQ(r.size(), 29u);
  EXPECT_EQ(std::string(r.begin(), r.begin() + 4), "ABCD");  // cut, no terminator
  EXPECT_EQ(std::string(r.begin() + 4, r.begin() + 9), std::string("12\0\0\0", 5));
  EXPECT_EQ(GetU32(&r[9]), 0x3FC00000u);  // 1.5f
  const std::string gbk = Utf8ToGbk("咸");
  EXPECT_EQ(std::string(r.begin() + 13, r.begin() + 13 + gbk.size()), gbk);
  EXPECT_EQ(r[13 + gbk.size()], 0);
  // The operator code comes first in the password record.
  EXPECT_EQ(UploadLayout("RT-SETPSW")->Offset("cOpCode"), 0u);
  EXPECT_EQ(UploadLayout("rt-disc")->Find("cDiscFlag")->kind, TFieldKind::Char);
}

TEST(SimRecords, AmountsAndTimes) {
  const TLayout& h = MemuHeaderLayout();
  ASSERT_EQ(h.Size(), 40u);
  const auto r =
      EncodeRecord(h, {{"fMemoPrice", "-0.29"}, {"fTotalSum", "12.345"}, {"dtOpTime", "now"}}, 1234567);
  EXPECT_EQ(static_cast<int32_t>(GetU32(&r[22])), -29);
  EXPECT_EQ(GetU32(&r[36]), 1235u);  // rounded to the nearest hundredth
  EXPECT_EQ(GetU32(&r[27]), 1234567u);
  EXPECT_EQ(ParseTimeValue("19800101000000", 0), 0);
  EXPECT_EQ(ParseTimeValue("19800301000000", 0), 60 * 86400);  // 1980 is a leap year
  EXPECT_EQ(ParseTimeValue("20000101123456", 0), SecondsSince1980(2000, 1, 1, 12, 34, 56));
  EXPECT_THROW(EncodeRecord(h, {{"fMemoPrice", "30000000"}}, 0), std::invalid_argument);
}

}  // namespace
}  // namespace qv::sim

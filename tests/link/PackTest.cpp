// Record packing: answer layouts byte by byte, the request parameter texts, the row split,
// the frame-number advance and the failure codes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "DemoCodes.h"
#include "FakeBridge.h"
#include "LinkRig.h"
#include "TempHome.h"
#include "TermScript.h"
#include "base/Text.h"
#include "link/Catalogue.h"
#include "base/Fields.h"
#include "link/RecordPack.h"

namespace qv::test {
namespace {

// Expected record bytes; offsets are the layout's, shifted past the count prefix.
struct TExpect {
  TPayload p;
  size_t base;
  TExpect(size_t size, bool prefix) : p(size + (prefix ? 4 : 0)), base(prefix ? 4 : 0) {
    if (prefix) p.U32(0, 1);
  }
  TExpect& T(size_t off, size_t w, const std::string& s) {
    p.Text(base + off, w, s);
    return *this;
  }
  TExpect& I8(size_t off, uint8_t v) {
    p.U8(base + off, v);
    return *this;
  }
  TExpect& I16(size_t off, uint16_t v) {
    p.U8(base + off, v & 0xFF).U8(base + off + 1, v >> 8);
    return *this;
  }
  TExpect& I32(size_t off, uint32_t v) {
    p.U32(base + off, v);
    return *this;
  }
  TExpect& M(size_t off, int32_t cents) {
    p.Money(base + off, cents);
    return *this;
  }
  TExpect& F(size_t off, float v) {
    p.Single(base + off, v);
    return *this;
  }
};

struct TPacked {
  int r;
  TStru_CHGDATA chg;
  TBytes bytes() const { return TBytes(chg.wDataBuf, chg.wDataBuf + chg.iDataLen); }
};

TPacked Pack(const std::string& cmdName, TFakeRows& rows, const TBytes& request = {}, uint8_t frNo = 0) {
  TLinkRig rig;
  const TStru_CmdList* cmd = GetCmdByName(cmdName);
  EXPECT_NE(cmd, nullptr) << cmdName;
  TPacked out{};
  out.chg.iPDANo = 7;
  out.chg.iFrNo = frNo;
  if (!request.empty()) std::memcpy(out.chg.wDataBuf, request.data(), request.size());
  out.chg.iDataLen = static_cast<int32_t>(request.size());
  out.r = Read_Data_FrmDB(rig.link, out.chg, *cmd, rows.Fn());
  EXPECT_FALSE(rig.link.bDataBusy);
  return out;
}

struct TLayoutCase {
  const char* cmd;
  const char* row;
  TExpect expect;
};

TEST(AnswerLayout, OneRowOfEveryLayout) {
  const TLayoutCase cases[] = {
      {"W-SHOP", R"("美味酒家","1234")", TExpect(26, false).T(0, 20, "美味酒家").T(20, 6, "1234")},
      {"W-DEPT", R"("01","热菜")", TExpect(16, true).T(0, 4, "01").T(4, 12, "热菜")},
      {"W-PLU", R"("00101","01","宫保鸡丁","份",12.345,1,0,1,0,"GBJD",1)",
       TExpect(52, true)
           .T(0, 5, "00101")
           .T(5, 4, "01")
           .T(9, 20, "宫保鸡丁")
           .T(29, 10, "GBJD")
           .T(39, 4, "份")
           .M(43, 1234)
           .I8(47, 1)
           .I8(48, 0)
           .I8(49, 1)
           .I8(50, 0)
           .I8(51, 1)},
      {"W-PLUINDEX", R"("GBJD","00101")", TExpect(15, true).T(0, 10, "GBJD").T(10, 5, "00101")},
      {"W-GROUP", R"("90001",2,"00101",3.5,1.5,1)",
       TExpect(21, true).T(0, 5, "90001").I16(5, 2).T(7, 5, "00101").M(12, 350).F(16, 1.5f).I8(20, 1)},
      {"W-SPEC", R"("00101","大份",-0.29,1)",
       TExpect(20, true).T(0, 5, "00101").T(5, 10, "大份").M(15, -29).I8(19, 1)},
      // 300 does not fit a byte: its low byte 0x2C goes out.
      {"W-MAKE", R"("01","少辣",300,2.5)",
       TExpect(22, true).T(0, 3, "01").T(3, 14, "少辣").I8(17, 0x2C).M(18, 250)},
      {"W-MINDEX", R"("SL","01")", TExpect(13, true).T(0, 10, "SL").T(10, 3, "01")},
      {"W-PMAKE", R"("00101","01",abc)", TExpect(12, true).T(0, 5, "00101").T(5, 3, "01").M(8, 0)},
      {"W-CAUSE", R"("01","太咸了")", TExpect(17, true).T(0, 3, "01").T(3, 14, "太咸了")},
      // Cut to 20 bytes with no terminator.
      {"W-DPLAN", R"("01","ABCDEFGHIJKLMNOPQRSTUVWXYZ")",
       TExpect(23, true).T(0, 3, "01").T(3, 20, "ABCDEFGHIJKLMNOPQRST")},
      {"RT-BILL", R"(1,"00101","宫保鸡丁","份","",2,0.5,38,0,1,2,0,1)",
       TExpect(58, true)
           .I16(0, 1)
           .T(2, 5, "00101")
           .T(7, 20, "宫保鸡丁")
           .T(27, 4, "份")
           .F(41, 2)
           .F(45, 0.5f)
           .M(49, 3800)
           .I8(53, 0)
           .I8(54, 1)
           .I8(55, 2)
           .I8(56, 0)
           .I8(57, 1)},
      {"RT-GQLIST", R"("00101","宫保鸡丁","份",0)",
       TExpect(33, true).T(0, 5, "00101").T(5, 20, "宫保鸡丁").T(25, 4, "份").F(29, 0)},
      // RT-SELL's flags are lenient: x packs 0.
      {"RT-SELL", R"(3,"00101","宫保鸡丁","份","大份",1.5,0,38,x,1,2,3,4)",
       TExpect(57, true)
           .I8(0, 3)
           .T(1, 5, "00101")
           .T(6, 20, "宫保鸡丁")
           .T(26, 4, "份")
           .T(30, 10, "大份")
           .F(40, 1.5f)
           .F(44, 0)
           .M(48, 3800)
           .I8(52, 0)
           .I8(53, 1)
           .I8(54, 2)
           .I8(55, 3)
           .I8(56, 4)},
      {"R-BATCH", R"("B2026120101")", TExpect(12, false).T(0, 12, "B2026120101")},
      {"R-GOODS", R"("S01","6901234567890","D01","可乐 330ml",1,"瓶",12.5,3,-2,2.5,3.8)",
       TExpect(150, false)
           .T(0, 30, "S01")
           .T(30, 30, "6901234567890")
           .T(60, 15, "D01")
           .T(75, 40, "可乐 330ml")
           .I8(115, 1)
           .T(116, 14, "瓶")
           .F(130, 12.5f)
           .F(134, 3)
           .I32(138, 0xFFFFFFFEu)
           .M(142, 250)
           .M(146, 380)},
      {"R-BILLLIST", R"("PI0001")", TExpect(15, true).T(0, 15, "PI0001")},
      {"R-BILLDETAIL", R"("PI0001","S01","6901234567890",12,2.5)",
       TExpect(60, true).T(0, 12, "PI0001").T(12, 10, "S01").T(22, 30, "6901234567890").F(52, 12).M(56, 250)},
      {"R-VENDORINF", R"("S01","供应商一","GYS")",
       TExpect(80, true).T(0, 10, "S01").T(10, 60, "供应商一").T(70, 10, "GYS")},
      {"R-ORGINF", R"("O01","总部","ZB")",
       TExpect(80, true).T(0, 10, "O01").T(10, 60, "总部").T(70, 10, "ZB")},
  };
  for (const TLayoutCase& c : cases) {
    TFakeRows rows{{c.row}};
    const TPacked out = Pack(c.cmd, rows);
    EXPECT_EQ(out.r, RC_OK) << c.cmd;
    EXPECT_EQ(Hex(out.bytes()), Hex(c.expect.p.b)) << c.cmd;
    EXPECT_EQ(out.chg.iRecCount, 1) << c.cmd;
  }
}

TEST(AnswerLayout, LoginRecordCarriesTheClockAndTheResultText) {
  // The bridge sets strResult with the row; the fake leaves it alone, so preset it.
  TFakeRows rows{{R"("张三")"}};
  TLinkRig rig;
  rig.clock.SetWallTime(Local(2026, 12, 10, 12, 34, 56, 999));
  TStru_CHGDATA chg;
  chg.strResult = "登录成功";
  const int r = Read_Data_FrmDB(rig.link, chg, *GetCmdByName("RT-LOGIN"), rows.Fn());
  ASSERT_EQ(r, RC_OK);
  const std::string ok = Utf8ToGbk("登录成功");
  ASSERT_EQ(chg.iDataLen, 20 + static_cast<int>(ok.size()));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(chg.wDataBuf), 4), Utf8ToGbk("张三"));
  EXPECT_EQ(chg.wDataBuf[4], 0);
  // The program's local time, to the whole second.
  EXPECT_EQ(std::string(reinterpret_cast<char*>(chg.wDataBuf + 8), 12), "261210123456");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(chg.wDataBuf + 20), ok.size()), ok);
  // A transaction keeps frame number 0.
  EXPECT_EQ(chg.iFrNo, 0);
}

TEST(AnswerLayout, LongLoginTextIsCutOnACharacterBoundaryWithinTheFrame) {
  struct TCase {
    std::string text;
    int len;  // payload length
  };
  std::string chinese;
  for (int i = 0; i < 150; ++i) chinese += "菜";  // 300 GBK bytes
  const TCase cases[] = {
      {chinese, 240},        // 110 characters fill the 220 bytes
      {"A" + chinese, 239},  // the 220th byte would be half a character: left out
      {std::string(300, 'A'), 240},
  };
  for (const TCase& c : cases) {
    TFakeRows rows{{R"("张三")"}};
    TLinkRig rig;
    TStru_CHGDATA chg;
    chg.strResult = c.text;
    ASSERT_EQ(Read_Data_FrmDB(rig.link, chg, *GetCmdByName("RT-LOGIN"), rows.Fn()), RC_OK);
    EXPECT_EQ(chg.iDataLen, c.len);
    const std::string tail(reinterpret_cast<char*>(chg.wDataBuf + 20), chg.iDataLen - 20);
    EXPECT_EQ(GbkToUtf8(tail).find('?'), std::string::npos) << "a character was split";
    EXPECT_EQ(Utf8ToGbk(c.text).compare(0, tail.size(), tail), 0);
  }
}

TEST(RecordPacking, ThreeRowsOfTenPerFrame) {
  TFakeRows rows{{R"("01","热菜")", R"("02","凉菜")", R"("03","汤")"}};
  const TPacked out = Pack("W-DEPT", rows);
  EXPECT_EQ(out.r, RC_OK);
  EXPECT_EQ(rows.flagsIn, (std::vector<int>{-1, 1, 1, 1}));
  EXPECT_EQ(out.chg.iDataLen, 4 + 3 * 16);
  EXPECT_EQ(GetU32(out.chg.wDataBuf), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.chg.wDataBuf + 4 + 2 * 16), 2), "03");
  EXPECT_EQ(out.chg.iFrNo, 0);  // a short batch ends the numbering
  EXPECT_EQ(out.chg.iRecCount, 3);
}

TEST(RecordPacking, FrameNumberAdvanceAndWrap) {
  struct TCase {
    const char* cmd;
    uint8_t frNoIn;
    uint8_t frNoOut;
    int firstFlag;
  };
  // W-SHOP: one record per frame, so a full frame always leaves rows behind.
  const TCase cases[] = {
      {"W-SHOP", 0, 1, -1},  // first call of a request opens the procedure
      {"W-SHOP", 1, 2, 1},    {"W-SHOP", 254, 255, 1}, {"W-SHOP", 255, 1, 1},  // never through 0
      {"RT-LOGIN", 0, 0, -1},  // a transaction does not advance
  };
  for (const TCase& c : cases) {
    TFakeRows rows{{R"("a","b")", R"("c","d")"}};
    TPacked out = Pack(c.cmd, rows, {}, c.frNoIn);
    EXPECT_EQ(out.r, RC_OK) << c.cmd;
    EXPECT_EQ(out.chg.iFrNo, c.frNoOut) << c.cmd << " from " << int(c.frNoIn);
    EXPECT_EQ(rows.flagsIn.front(), c.firstFlag);
  }
}

TEST(RecordPacking, Failures) {
  TTempHome home;
  {
    // A strict flag that is no integer: RC_SVC_PREPARE and the exception's line.
    TFakeRows rows{{R"(1,"00101","宫保鸡丁","份","",2,0,38,x,0,0,0,0)"}};
    EXPECT_EQ(Pack("RT-BILL", rows).r, RC_SVC_PREPARE);
    EXPECT_NE(home.ErrLogText().find("Read_Data_FrmDB Except:"), std::string::npos);
  }
  {
    // A row with fewer fields than the layout reads.
    TFakeRows rows{{R"("00101","01")"}};
    EXPECT_EQ(Pack("W-PLU", rows).r, RC_SVC_PREPARE);
  }
  {
    // The bridge's code comes back unchanged, the records packed so far stay.
    TFakeRows rows;
    rows.result = RC_DEMO_BADOPPSW;
    rows.resultText = "操作员密码错误";
    const TPacked out = Pack("RT-LOGIN", rows);
    EXPECT_EQ(out.r, RC_DEMO_BADOPPSW);
    EXPECT_EQ(out.chg.strResult, "操作员密码错误");
  }
  {
    TStru_CmdList zero = *GetCmdByName("W-DEPT");
    zero.FrameCount = 0;
    TLinkRig rig;
    TStru_CHGDATA chg;
    TFakeRows rows{{R"("01","x")"}};
    EXPECT_EQ(Read_Data_FrmDB(rig.link, chg, zero, rows.Fn()), RC_SVC_BADCMD);
    EXPECT_TRUE(rows.flagsIn.empty());
  }
  {
    // A command without a layout fetches its rows and packs nothing.
    TFakeRows rows{{"1", "2"}};
    const TPacked out = Pack("W-DOWNZK", rows);
    EXPECT_EQ(out.r, RC_OK);
    EXPECT_EQ(out.chg.iDataLen, 0);
    EXPECT_EQ(out.chg.iRecCount, 2);
  }
}

TEST(MoneyToInt, RoundsHalfAwayAtTheFifthDecimalAndKeepsLowBits) {
  struct TCase {
    double x;
    int32_t cents;
  };
  const TCase cases[] = {{12.345, 1234},          {-0.29, -29},    {0, 0},        {0.1, 10},
                         {19.99, 1999},           {-19.99, -1999}, {0.004999, 0}, {21474836.47, 2147483647},
                         {21474836.48, INT32_MIN}};
  for (const TCase& c : cases) EXPECT_EQ(MoneyToInt(c.x), c.cents) << c.x;
}

TEST(RequestParams, EveryDecodingRule) {
  struct TCase {
    const char* cmd;
    TBytes payload;
    std::string text;
  };
  const TCase cases[] = {
      {"RT-LOGIN",
       TPayload(22).Text(0, 4, "0001").Text(4, 8, "DEV12345").Text(12, 4, "1001").Text(16, 6, "123456"),
       R"("0001","DEV12345","1001","123456")"},
      {"RT-BILL", TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), R"(A01,"1001")"},
      {"RT-SELL", TPayload(24).Text(0, 20, "202612100001").Text(20, 4, "1001"), R"("202612100001","1001")"},
      {"R-BILLLIST", TPayload(11).U8(0, 2).Text(1, 10, "S001"), R"(2,"S001")"},
      {"R-BILLDETAIL", TPayload(16).U8(0, 1).Text(1, 15, "PO0001"), R"(1,"PO0001")"},
      {"R-GOODS", TPayload(20).Text(0, 20, "  6901234 \t"), "6901234"},
      {"RT-GQLIST", TPayload(4).Text(0, 4, "张"), "张"},
      // Text fields stop at their first 0x00 even with bytes behind it.
      {"RT-BILL", TPayload(8).Text(0, 4, "A").U8(2, 'Z').Text(4, 4, "1001"), R"(A,"1001")"},
  };
  for (const TCase& c : cases) {
    TFakeRows rows;
    Pack(c.cmd, rows, c.payload);
    ASSERT_FALSE(rows.textsIn.empty());
    EXPECT_EQ(rows.textsIn.front(), c.text) << c.cmd;
  }
  TFakeRows rows;
  Pack("RT-BILL", rows, {});
  EXPECT_EQ(rows.textsIn.front(), "");  // no payload, no text
}

// A terminal's quotes and commas reach the procedure's parameters unchanged.
TEST(RequestParams, QuotesAndCommasArriveUnchanged) {
  struct TCase {
    const char* cmd;
    TBytes payload;
    std::string text;
    std::vector<std::string> fields;
  };
  const TCase cases[] = {
      {"RT-LOGIN",
       TPayload(22).Text(0, 4, "0001").Text(4, 8, "D\"V").Text(12, 4, "1001").Text(16, 6, "1\"2,3"),
       R"("0001","D""V","1001","1""2,3")",
       {"0001", "D\"V", "1001", "1\"2,3"}},
      {"RT-BILL", TPayload(8).Text(0, 4, "A,1").Text(4, 4, "1001"), R"("A,1","1001")", {"A,1", "1001"}},
      {"RT-BILL", TPayload(8).Text(0, 4, "A\"").Text(4, 4, "\"\""), R"("A""","""""")", {"A\"", "\"\""}},
      {"RT-SELL",
       TPayload(24).Text(0, 20, "B\",1").Text(20, 4, "1001"),
       R"("B"",1","1001")",
       {"B\",1", "1001"}},
      {"R-BILLLIST", TPayload(11).U8(0, 2).Text(1, 10, "S,\"1"), R"(2,"S,""1")", {"2", "S,\"1"}},
  };
  for (const TCase& c : cases) {
    TFakeRows rows;
    Pack(c.cmd, rows, c.payload);
    ASSERT_FALSE(rows.textsIn.empty());
    EXPECT_EQ(rows.textsIn.front(), c.text) << c.cmd;
    TStringList fields;
    ASSERT_TRUE(toStrings(Trim(rows.textsIn.front()), &fields));
    EXPECT_EQ(fields, c.fields) << c.text;
  }
}

TEST(RowSplit, DelimitedTextRules) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitRowText(R"("a,b",1,"say ""hi""")"), (V{"a,b", "1", R"(say "hi")"}));
  EXPECT_EQ(SplitRowText("a,,b"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitRowText("a,b,"), (V{"a", "b", ""}));
  EXPECT_EQ(SplitRowText("  a b ,c"), (V{"a", "b", "c"}));  // a blank ends a bare field
  EXPECT_EQ(SplitRowText(""), V{});
  EXPECT_EQ(SplitRowText(R"("unclosed)"), V{"unclosed"});
}

}  // namespace
}  // namespace qv::test

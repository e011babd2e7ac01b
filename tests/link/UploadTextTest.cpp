// Upload records: every layout's parameter text, the value encodings, the kept order
// header, bLast, the ePOS file and the failure codes of one frame's conversion.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "DemoCodes.h"
#include "FakeBridge.h"
#include "LinkRig.h"
#include "TermScript.h"
#include "link/Catalogue.h"
#include "base/Text.h"
#include "base/Fields.h"
#include "link/UploadExchange.h"

namespace qv::test {
namespace {

TBytes OrderHeaderBytes(int32_t opTime) {
  return TPayload(40)
      .Text(0, 4, "A01")
      .Text(4, 4, "1001")
      .Text(8, 14, "不要辣")
      .Money(22, 500)
      .U8(26, 1)
      .U32(27, static_cast<uint32_t>(opTime))
      .Text(31, 4, "0012")
      .U8(35, 3)
      .Money(36, 12345);
}

// 2026-12-10 12:34:56 as seconds after 1980-01-01.
constexpr int32_t kOpTime = ((46 * 365 + 12 + 343) * 86400) + 12 * 3600 + 34 * 60 + 56;

struct TFrameResult {
  int r;
  std::string strResult;
};

TFrameResult Convert(const std::string& cmdName, const TBytes& payload, uint8_t frNo, TFakeSaves& saves,
                     int terminal = 12) {
  TLinkRig rig;
  TStru_CHGDATA chg;
  chg.iPDANo = terminal;
  chg.iFrNo = frNo;
  if (!payload.empty()) std::memcpy(chg.wDataBuf, payload.data(), payload.size());
  chg.iDataLen = static_cast<int32_t>(payload.size());
  const TStru_CmdList* cmd = GetCmdByName(cmdName);
  EXPECT_NE(cmd, nullptr);
  const int r = Get_SendData_FrmDB(rig.link, chg, *cmd, saves.Fn());
  EXPECT_FALSE(rig.link.bDataBusy);
  return {r, chg.strResult};
}

TEST(UploadText, EveryRecordLayout) {
  struct TCase {
    const char* cmd;
    TBytes rec;
    const char* text;
  };
  const TPayload dish = TPayload(57)
                            .U8(0, 2)
                            .Text(1, 5, "00101")
                            .Text(6, 20, "宫保鸡丁")
                            .Text(26, 4, "份")
                            .Text(30, 10, "大份")
                            .Single(40, 0.1f)
                            .Single(44, 1.5f)
                            .Money(48, 1200)
                            .U8(52, 1)
                            .U8(53, 0)
                            .U8(54, 200)
                            .U8(55, 1)
                            .U8(56, 0);
  const TCase cases[] = {
      {"RT-MEMU", dish,
       R"("A01","1001","不要辣",5,1,"20261210123456","0012",3,123.45,2,"00101","宫保鸡丁","份","大份",)"
       R"(0.100000001490116,1.5,12,1,0,200,1,0)"},
      {"RT-OPENTABLE",
       TPayload(26)
           .Text(0, 4, "A01")
           .Text(4, 2, "4")
           .Text(6, 4, "2001")
           .Text(10, 12, "生日宴")
           .Text(22, 4, "1001"),
       R"("A01","4","2001","生日宴","1001")"},
      {"RT-ORDERTABLE", TPayload(26).Text(0, 4, "A02").Text(4, 2, "12").Text(22, 4, "1001"),
       R"("A02","12","","","1001")"},
      {"RT-SETTABLE", TPayload(26).Text(0, 4, "A03").Text(22, 4, "1001"), R"("A03","","","","1001")"},
      {"RT-CHGTABLE", TPayload(12).Text(0, 4, "A01").Text(4, 4, "B02").Text(8, 4, "1001"),
       R"("A01","B02","1001")"},
      {"RT-GATHERTABLE", TPayload(12).Text(0, 4, "A01").Text(4, 4, "B02").Text(8, 4, "1001"),
       R"("A01","B02","1001")"},
      {"RT-COPYBILL", TPayload(12).Text(0, 4, "A01").Text(4, 4, "B02").Text(8, 4, "1001"),
       R"("A01","B02","1001")"},
      {"RT-DELTABLE", TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), R"("A01","1001")"},
      {"RT-TABLEOUT", TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), R"("A01","1001")"},
      {"RT-TABLECALL", TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), R"("A01","1001")"},
      {"RT-TABLECPRIOR", TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), R"("A01","1001")"},
      {"RT-TABLEFREE", TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), R"("A01","1001")"},
      {"RT-TABLEORDER", TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), R"("A01","1001")"},
      {"RT-PRINTBILL", TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), R"("A01","1001")"},
      {"RT-CHECK", TPayload(8).Text(0, 4, "A01").Text(4, 4, "1001"), R"("A01","1001")"},
      {"RT-SORTOUT", TPayload(12).Text(0, 4, "A01").Text(4, 4, "01").Text(8, 4, "1001"),
       R"("A01","01","1001")"},
      {"RT-SORTCALL", TPayload(12).Text(0, 4, "A01").Text(4, 4, "01").Text(8, 4, "1001"),
       R"("A01","01","1001")"},
      {"RT-SORTPRIOR", TPayload(12).Text(0, 4, "A01").Text(4, 4, "01").Text(8, 4, "1001"),
       R"("A01","01","1001")"},
      {"RT-DISHOUT", TPayload(13).Text(0, 4, "A01").Text(4, 5, "00101").Text(9, 4, "1001"),
       R"("A01","00101","1001")"},
      {"RT-DISHCALL", TPayload(13).Text(0, 4, "A01").Text(4, 5, "00101").Text(9, 4, "1001"),
       R"("A01","00101","1001")"},
      {"RT-DISHPRIOR", TPayload(13).Text(0, 4, "A01").Text(4, 5, "00101").Text(9, 4, "1001"),
       R"("A01","00101","1001")"},
      {"RT-RETDISH",
       TPayload(29)
           .Text(0, 4, "A01")
           .Text(4, 5, "00101")
           .Single(9, 1.5f)
           .Text(13, 12, "太咸")
           .Text(25, 4, "1001"),
       R"("A01","00101",1.5,"太咸","1001")"},
      {"RT-ALLFREE", TPayload(4).Text(0, 4, "1001"), R"("1001")"},
      {"RT-ALLORDER", TPayload(4).Text(0, 4, "1001"), R"("1001")"},
      {"RT-SORTFREE", TPayload(6).Text(0, 2, "01").Text(2, 4, "1001"), R"("01","1001")"},
      {"RT-DISC",
       TPayload(14).Text(0, 4, "A01").U8(4, 0x31).Text(5, 2, "88").Text(7, 3, "P01").Text(10, 4, "1001"),
       R"("A01",1,88,"P01","1001")"},
      {"RT-VIP", TPayload(24).Text(0, 20, "13800138000").Text(20, 4, "1001"), R"("13800138000","1001")"},
      {"RT-WEIGHT",
       TPayload(20)
           .Text(0, 4, "A01")
           .Text(4, 5, "00101")
           .Text(9, 3, "001")
           .Single(12, 0.75f)
           .Text(16, 4, "1001"),
       R"("A01","00101","001",0.75,"1001")"},
      // The operator code comes first in the record and last in the text.
      {"RT-SETPSW", TPayload(16).Text(0, 4, "1001").Text(4, 6, "111111").Text(10, 6, "222222"),
       R"("111111","222222","1001")"},
      {"W-PDSTORE",
       TPayload(60)
           .Text(0, 12, "B001")
           .Text(12, 10, "S01")
           .Text(22, 30, "6901234567890")
           .Single(52, 3)
           .Money(56, 250),
       R"("B001","S01","6901234567890",3,2.50)"},
      {"W-PDOUT", TPayload(60).Text(0, 12, "PO1").Text(22, 30, "G1").Single(52, -2.5f).Money(56, -5),
       R"("PO1","","G1",-2.5,-0.05)"},
      {"W-PDIN",
       TPayload(60).Text(0, 12, "PI1").Text(12, 10, "S01").Text(22, 30, "G1").Single(52, 12).Money(56, 1200),
       R"("PI1","S01","G1",12,12.00)"},
      {"W-GATHER", TPayload(60).Text(0, 12, "GA1").Text(22, 30, "G1").Single(52, 1e20f).Money(56, 0),
       R"("GA1","","G1",1.00000002004088E20,0.00)"},
  };
  TFakeSaves none;
  ASSERT_EQ(Convert("RT-MEMU", OrderHeaderBytes(kOpTime), 1, none).r, RC_OK);  // terminal 12's order
  for (const TCase& c : cases) {
    TFakeSaves saves;
    const TFrameResult out = Convert(c.cmd, c.rec, 2, saves);
    EXPECT_EQ(out.r, RC_OK) << c.cmd;
    ASSERT_EQ(saves.saved.size(), 1u) << c.cmd;
    EXPECT_EQ(saves.saved[0].text, c.text) << c.cmd;
    EXPECT_EQ(saves.saved[0].cmd, c.cmd);
    EXPECT_EQ(saves.saved[0].iPDANo, 12);
    EXPECT_FALSE(saves.saved[0].bLast);
  }
}

// Whatever a text field holds (quotes, commas, line breaks) reaches the bridge's fields
// unchanged: the parameter text escapes it and the bridge's split takes it back. Values
// without such characters keep the texts above.
TEST(UploadText, AnyCharacterOfATextFieldArrivesUnchanged) {
  struct TCase {
    const char* cmd;
    TBytes rec;
    std::string text;
    std::vector<std::string> fields;
  };
  const TCase cases[] = {
      {"RT-OPENTABLE",
       TPayload(26).Text(0, 4, "A\"1").Text(4, 2, "4").Text(10, 12, "12\",thin").Text(22, 4, "1001"),
       R"("A""1","4","","12"",thin","1001")",
       {"A\"1", "4", "", "12\",thin", "1001"}},
      {"RT-OPENTABLE",
       TPayload(26).Text(0, 4, "A01").Text(10, 12, "AB\r宴\n").Text(22, 4, "1001"),
       "\"A01\",\"\",\"\",\"AB\r宴\n\",\"1001\"",
       {"A01", "", "", "AB\r宴\n", "1001"}},
      {"RT-VIP",
       TPayload(24).Text(0, 20, "\"a,b\"").Text(20, 4, "1001"),
       R"("""a,b""","1001")",
       {"\"a,b\"", "1001"}},
      // The two bare fields of a discount are written quoted only when they must be.
      {"RT-DISC",
       TPayload(14).Text(0, 4, "A01").U8(4, '"').Text(5, 2, ",1").Text(7, 3, "P01").Text(10, 4, "1001"),
       R"("A01","""",",1","P01","1001")",
       {"A01", "\"", ",1", "P01", "1001"}},
      {"RT-DISC",
       TPayload(14).Text(0, 4, "A01").U8(4, ',').Text(5, 2, "9").Text(7, 3, "P01").Text(10, 4, "1001"),
       R"("A01",",",9,"P01","1001")",
       {"A01", ",", "9", "P01", "1001"}},
      {"RT-SETPSW",
       TPayload(16).Text(0, 4, "1001").Text(4, 6, "\"\"\"").Text(10, 6, "a\",\"b"),
       R"("""""""","a"",""b","1001")",
       {"\"\"\"", "a\",\"b", "1001"}},
  };
  for (const TCase& c : cases) {
    TFakeSaves saves;
    const TFrameResult out = Convert(c.cmd, c.rec, 2, saves);
    EXPECT_EQ(out.r, RC_OK) << c.cmd;
    ASSERT_EQ(saves.saved.size(), 1u) << c.cmd;
    EXPECT_EQ(saves.saved[0].text, c.text) << c.cmd;
    TStringList fields;
    ASSERT_TRUE(toStrings(Trim(saves.saved[0].text), &fields));
    EXPECT_EQ(fields, c.fields) << c.text;
  }
}

// An order with a quote and a comma in its memo and in a temporary dish's name.
TEST(UploadText, OrderWithQuotesKeepsEveryParameterInPlace) {
  TFakeSaves saves;
  TPayload header;
  header.b = OrderHeaderBytes(kOpTime);
  header.Text(8, 14, std::string("12\",thin") + std::string(6, '\0'));
  ASSERT_EQ(Convert("RT-MEMU", header, 1, saves, 41).r, RC_OK);
  const TBytes dish = TPayload(57)
                          .U8(0, 1)
                          .Text(1, 5, "T0001")
                          .Text(6, 20, "Pizza 12\",thin")
                          .Text(26, 4, "份")
                          .Single(40, 1)
                          .Money(48, 4500)
                          .U8(55, 1);
  ASSERT_EQ(Convert("RT-MEMU", dish, 0, saves, 41).r, RC_OK);
  ASSERT_EQ(saves.saved.size(), 1u);
  TStringList f;
  ASSERT_TRUE(toStrings(Trim(saves.saved[0].text), &f));
  ASSERT_EQ(f.size(), 22u) << saves.saved[0].text;
  EXPECT_EQ(f[2], "12\",thin");
  EXPECT_EQ(f[3], "5");
  EXPECT_EQ(f[11], "Pizza 12\",thin");
  EXPECT_EQ(f[12], "份");
  EXPECT_EQ(f[16], "45");
  EXPECT_EQ(f[20], "1");
}

TEST(UploadText, OrderTimes) {
  EXPECT_EQ(SecondsToOpTime(0), "19800101000000");
  EXPECT_EQ(SecondsToOpTime(kOpTime), "20261210123456");
  EXPECT_EQ(SecondsToOpTime(59 * 86400), "19800229000000");  // 1980 is a leap year
  EXPECT_EQ(SecondsToOpTime(INT32_MAX), "20480119031407");
  EXPECT_FALSE(SecondsToOpTime(-1).has_value());
}

TEST(UploadFrame, HeaderFrameIsKeptAndSavesNothing) {
  TFakeSaves saves;
  ClearOrderHeaders();
  EXPECT_FALSE(KeptOrderHeader(12).has_value());
  TBytes header = OrderHeaderBytes(kOpTime);
  EXPECT_EQ(Convert("RT-MEMU", header, 1, saves).r, RC_OK);
  EXPECT_TRUE(saves.saved.empty());
  const auto kept = KeptOrderHeader(12);
  ASSERT_TRUE(kept.has_value());
  EXPECT_EQ(TBytes(kept->begin(), kept->end()), header);
  header.push_back(0);  // 41 bytes
  EXPECT_EQ(Convert("RT-MEMU", header, 1, saves).r, RC_BADFORMAT);
}

// Terminals order side by side: each dish frame goes with its own terminal's header, and a
// terminal that sent none has nothing to go with.
TEST(UploadFrame, OrderHeaderIsKeptPerTerminal) {
  const TBytes dish = TPayload(57).U8(0, 1).Text(1, 5, "00101").Single(40, 1).Money(48, 100);
  const TBytes header31 = OrderHeaderBytes(kOpTime);
  TPayload other;
  other.b = header31;
  const TBytes header33 = other.Text(0, 4, "B07").Text(4, 4, "2002");
  TFakeSaves saves;
  ASSERT_EQ(Convert("RT-MEMU", header31, 1, saves, 31).r, RC_OK);
  EXPECT_EQ(Convert("RT-MEMU", dish, 2, saves, 32).r, RC_BADFORMAT);
  EXPECT_TRUE(saves.saved.empty());
  ASSERT_EQ(Convert("RT-MEMU", header33, 1, saves, 33).r, RC_OK);
  ASSERT_EQ(Convert("RT-MEMU", dish, 0, saves, 31).r, RC_OK);
  ASSERT_EQ(Convert("RT-MEMU", dish, 0, saves, 33).r, RC_OK);
  ASSERT_EQ(saves.saved.size(), 2u);
  EXPECT_EQ(saves.saved[0].text.rfind(R"("A01","1001","不要辣")", 0), 0u) << saves.saved[0].text;
  EXPECT_EQ(saves.saved[1].text.rfind(R"("B07","2002","不要辣")", 0), 0u) << saves.saved[1].text;
}

TEST(UploadFrame, LastRecordOfTheLastFrame) {
  const TBytes two = TPayload(16).Text(0, 4, "A01").Text(4, 4, "1001").Text(8, 4, "A02").Text(12, 4, "1001");
  for (uint8_t frNo : {uint8_t{0}, uint8_t{3}}) {
    TFakeSaves saves;
    EXPECT_EQ(Convert("RT-DELTABLE", two, frNo, saves).r, RC_OK);
    ASSERT_EQ(saves.saved.size(), 2u);
    EXPECT_FALSE(saves.saved[0].bLast);
    EXPECT_EQ(saves.saved[1].bLast, frNo == 0);
    EXPECT_EQ(saves.saved[1].text, R"("A02","1001")");
  }
}

TEST(UploadFrame, Failures) {
  TTempHome home;
  {
    TFakeSaves saves;
    EXPECT_EQ(Convert("RT-DELTABLE", TBytes(9, 'A'), 0, saves).r, RC_BADFORMAT);  // not whole records
    EXPECT_EQ(Convert("RT-DELTABLE", {}, 0, saves).r, RC_NODATA);                 // nothing to save
    EXPECT_TRUE(saves.saved.empty());
  }
  {
    TFakeSaves saves;
    TStru_CmdList unknown = *GetCmdByName("RT-DELTABLE");
    unknown.CmdCode = 0x7F04;
    TLinkRig rig;
    TStru_CHGDATA chg;
    chg.iDataLen = 8;
    EXPECT_EQ(Get_SendData_FrmDB(rig.link, chg, unknown, saves.Fn()), RC_BADCMD);
    EXPECT_TRUE(saves.saved.empty());
  }
  {
    // An order time before 1980 cannot be converted: the frame is abandoned.
    TFakeSaves saves;
    ASSERT_EQ(Convert("RT-MEMU", OrderHeaderBytes(-1), 1, saves).r, RC_OK);
    EXPECT_EQ(Convert("RT-MEMU", TBytes(57, 0), 0, saves).r, RC_SVC_CONVERT);
    EXPECT_TRUE(saves.saved.empty());
    EXPECT_NE(home.ErrLogText().find("DT_Seconds Error:-1"), std::string::npos);
  }
  {
    // An exception anywhere in the conversion gives RC_SVC_PREPARE and its error-log line.
    TLinkRig rig;
    TStru_CHGDATA chg;
    chg.iDataLen = 8;
    const TSaveRecordFn throwing = [](const char*, int, const std::string&, std::string&, bool) -> int {
      throw std::runtime_error("boom");
    };
    EXPECT_EQ(Get_SendData_FrmDB(rig.link, chg, *GetCmdByName("RT-DELTABLE"), throwing), RC_SVC_PREPARE);
    EXPECT_FALSE(rig.link.bDataBusy);
    EXPECT_NE(home.ErrLogText().find("Get_SendData_FrmDB Except:boom"), std::string::npos);
  }
  {
    // A refused record stops the frame: the ones before it are saved, the rest not.
    TFakeSaves saves;
    saves.failAt = 1;
    saves.code = RC_DEMO_NOTABLE;
    saves.reply = "台号不存在";
    TBytes three;
    for (const char* t : {"A01", "A02", "A03"}) {
      const TBytes rec = TPayload(8).Text(0, 4, t).Text(4, 4, "1001");
      three.insert(three.end(), rec.begin(), rec.end());
    }
    const TFrameResult out = Convert("RT-DELTABLE", three, 0, saves);
    EXPECT_EQ(out.r, RC_DEMO_NOTABLE);
    EXPECT_EQ(out.strResult, "台号不存在");
    EXPECT_EQ(saves.saved.size(), 2u);
  }
}

}  // namespace
}  // namespace qv::test

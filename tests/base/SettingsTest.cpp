#include <filesystem>
#include <vector>

#include "TempHome.h"
#include "base/IniFile.h"

namespace qv::test {
namespace {

using Settings = TempHome;

TEST_F(Settings, DefaultsWithoutFile) {
  SysSet().ShopNO = "stale";
  SysSet().SYS_SERVER_TYPE = 0;
  LoadSysSet();
  const TStru_SysSet& s = SysSet();
  EXPECT_FALSE(s.startwithsys);
  EXPECT_FALSE(s.writeResult);
  EXPECT_FALSE(s.WriteCommLog);
  EXPECT_FALSE(s.writeTrace);
  EXPECT_EQ(s.maxsizeResult, 5120);
  EXPECT_EQ(s.DelayCount, 200);
  EXPECT_EQ(s.BaseCommPsw, 0);
  EXPECT_EQ(s.ShopNO, "");
  EXPECT_EQ(s.AppTitle, "盘点机无线服务程序");
  EXPECT_EQ(s.TransData, "");
  EXPECT_TRUE(s.Broadcast);
  EXPECT_EQ(s.iMaxLogCount, 50);
  EXPECT_EQ(s.SYS_SERVER_TYPE, 1);
  EXPECT_EQ(s.iBaseStationID, 0);
  EXPECT_EQ(s.ReplyWaitMs, 30000);
  EXPECT_FALSE(Exists("datalink.ini"));
}

TEST_F(Settings, OrderingModeAloneGivesShortReplyWait) {
  Put("datalink.ini", "[SysSet]\r\nSYS_SERVER_TYPE=0\r\n");
  LoadSysSet();
  EXPECT_EQ(SysSet().SYS_SERVER_TYPE, 0);
  EXPECT_EQ(SysSet().ReplyWaitMs, 6000);
  EXPECT_EQ(SysSet().maxsizeResult, 5120);
}

TEST_F(Settings, EveryKeyRead) {
  Put("DATALINK.INI",
      "[sysset]\r\nstartwithsys=1\r\nWRITERESULT=1\r\nwriteCommLog=1\r\nWriteTrace=1\r\nmaxsizeResult=7\r\n"
      "DelayCount=9\r\nBaseCommPsw=1234\r\nShopNO=S01\r\n"
      "AppTitle=\xB5\xE3\xB2\xCB\xB1\xA6\r\n"  // 点菜宝
      "TransData=101\r\nBroadcast=0\r\niMaxLogCount=5\r\nSYS_SERVER_TYPE=2\r\n"
      "iBaseStationID=77\r\n");
  LoadSysSet();
  const TStru_SysSet& s = SysSet();
  EXPECT_TRUE(s.startwithsys);
  EXPECT_TRUE(s.writeResult);
  EXPECT_TRUE(s.WriteCommLog);
  EXPECT_TRUE(s.writeTrace);
  EXPECT_EQ(s.maxsizeResult, 7);
  EXPECT_EQ(s.DelayCount, 9);
  EXPECT_EQ(s.BaseCommPsw, 1234);
  EXPECT_EQ(s.ShopNO, "S01");
  EXPECT_EQ(s.AppTitle, "点菜宝");
  EXPECT_EQ(s.TransData, "101");
  EXPECT_FALSE(s.Broadcast);
  EXPECT_EQ(s.iMaxLogCount, 5);
  EXPECT_EQ(s.SYS_SERVER_TYPE, 2);
  EXPECT_EQ(s.iBaseStationID, 77);
  EXPECT_EQ(s.ReplyWaitMs, 30000);
}

TEST_F(Settings, NonNumbersGiveDefaults) {
  Put("datalink.ini", "[SysSet]\r\nmaxsizeResult=big\r\niMaxLogCount=\r\nSYS_SERVER_TYPE=x\r\n");
  LoadSysSet();
  EXPECT_EQ(SysSet().maxsizeResult, 5120);
  EXPECT_EQ(SysSet().iMaxLogCount, 50);
  EXPECT_EQ(SysSet().SYS_SERVER_TYPE, 1);
  EXPECT_EQ(SysSet().ReplyWaitMs, 30000);
}

TEST_F(Settings, HelpFileAndCommSet) {
  EXPECT_EQ(ReadHelpFile(), "help.chm");
  EXPECT_EQ(ReadCommNo(), "COM1");
  EXPECT_EQ(ReadChannelNo(), 0);
  Put("datalink.ini",
      "[SysSet]\r\nSTR_HELP_FILE= manual.pdf\r\n[CommSet]\r\nCommNo=Com3\r\nChannelNo=12\r\n");
  EXPECT_EQ(ReadHelpFile(), "manual.pdf");
  EXPECT_EQ(SysSet().HelpFile, "manual.pdf");
  EXPECT_EQ(ReadCommNo(), "Com3");
  EXPECT_EQ(ReadChannelNo(), 12);
  Put("datalink.ini", "[CommSet]\r\nChannelNo=abc\r\n");
  EXPECT_EQ(ReadChannelNo(), 0);
}

// The defaults stay, but every value the program could not take is said once: a shop must
// not find out from a dead line that its port setting never counted.
TEST_F(Settings, WarningsNameEveryValueNotUnderstood) {
  const struct {
    const char* ini;                    // nullptr: no file
    std::vector<std::string> warnings;  // a part of each line: lines of the file first, then keys
  } cases[] = {
      {"[SysSet]\r\nSYS_SERVER_TYPE=0\r\n; a "
       "comment\r\n\r\n[CommSet]\r\nCommNo=/dev/ttyUSB0\r\nChannelNo=3\r\n"
       "[ConnectionString]\r\nuport=1\r\nport=1433\r\n",
       {}},
      {nullptr, {"no datalink.ini in "}},
      {"", {"no settings in the file; every setting takes its default"}},
      {"[SysSet]\r\n\r\n", {"no settings in the file"}},
      {"[SysSet]\r\nSYS_SERVER_TYPE=zero\r\nmaxsizeResult=10k\r\niMaxLogCount=\r\nWriteCommLog=yes\r\n"
       "writeTrace=on\r\n[CommSet]\r\nChannelNo=ch3\r\n[ConnectionString]\r\nuport=true\r\n",
       {"[SysSet] WriteCommLog=yes is not a number; 0 is used",
        "[SysSet] writeTrace=on is not a number; 0 is used",
        "[SysSet] maxsizeResult=10k is not a number; 5120 is used",
        "[SysSet] iMaxLogCount= is not a number; 50 is used",
        "[SysSet] SYS_SERVER_TYPE=zero is not a number; 1 is used",
        "[CommSet] ChannelNo=ch3 is not a number; 0 is used",
        "[ConnectionString] uport=true is not a number; 0 is used"}},
      // A byte-order mark in front of the first section: the whole section is lost.
      {"\xEF\xBB\xBF[SysSet]\r\nSYS_SERVER_TYPE=0\r\nCommNo\r\n",
       {"line 1 is not understood", "line 2 lies outside any section", "line 3 is not understood",
        "no settings in the file"}},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(Path("datalink.ini"));
    if (c.ini) Put("datalink.ini", c.ini);
    const std::vector<std::string> got = CheckDataLinkIni();
    ASSERT_EQ(got.size(), c.warnings.size()) << (c.ini ? c.ini : "(no file)") << "\n"
                                             << ::testing::PrintToString(got);
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].rfind("datalink.ini", 0), 0u) << got[i];
      EXPECT_NE(got[i].find(c.warnings[i]), std::string::npos) << got[i];
    }
  }
  // Something that cannot be read at all (root reads any file, but not a directory).
  std::filesystem::remove(Path("datalink.ini"));
  std::filesystem::create_directory(Path("datalink.ini"));
  const std::vector<std::string> got = CheckDataLinkIni();
  ASSERT_EQ(got.size(), 1u) << ::testing::PrintToString(got);
  EXPECT_NE(got[0].find("cannot be read"), std::string::npos) << got[0];
}

// Binary junk says a few lines, not one per byte.
TEST_F(Settings, GarbledFileWarnsInFewLines) {
  std::string junk;
  for (int i = 0; i < 500; ++i) junk += "\x80\x81 junk line\n";
  Put("datalink.ini", junk);
  const std::vector<std::string> got = CheckDataLinkIni();
  ASSERT_FALSE(got.empty());
  EXPECT_LE(got.size(), 12u);
  EXPECT_NE(got.back().find("no settings"), std::string::npos) << got.back();
}

}  // namespace
}  // namespace qv::test

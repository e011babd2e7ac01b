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
      "[sysset]\r\nstartwithsys=1\r\nWRITERESULT=1\r\nwriteCommLog=1\r\nmaxsizeResult=7\r\n"
      "DelayCount=9\r\nBaseCommPsw=1234\r\nShopNO=S01\r\n"
      "AppTitle=\xB5\xE3\xB2\xCB\xB1\xA6\r\n"  // 点菜宝
      "TransData=101\r\nBroadcast=0\r\niMaxLogCount=5\r\nSYS_SERVER_TYPE=2\r\n"
      "iBaseStationID=77\r\n");
  LoadSysSet();
  const TStru_SysSet& s = SysSet();
  EXPECT_TRUE(s.startwithsys);
  EXPECT_TRUE(s.writeResult);
  EXPECT_TRUE(s.WriteCommLog);
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

}  // namespace
}  // namespace qv::test

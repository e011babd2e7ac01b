#include "base/Settings.h"

#include "base/IniFile.h"
#include "base/Text.h"

namespace qv {

TStru_SysSet& SysSet() {
  static TStru_SysSet record;
  return record;
}

void LoadSysSet() {
  try {
    const TIniFile ini = DataLinkIni();
    const std::string s = "SysSet";
    TStru_SysSet& r = SysSet();
    r.startwithsys = ini.ReadBool(s, "startwithsys", false);
    r.writeResult = ini.ReadBool(s, "writeResult", false);
    r.WriteCommLog = ini.ReadBool(s, "WriteCommLog", false);
    r.maxsizeResult = ini.ReadInteger(s, "maxsizeResult", 5120);
    r.DelayCount = ini.ReadInteger(s, "DelayCount", 200);
    r.BaseCommPsw = ini.ReadInteger(s, "BaseCommPsw", 0);
    r.ShopNO = ini.ReadString(s, "ShopNO", "");
    r.AppTitle = ini.ReadString(s, "AppTitle", "盘点机无线服务程序");
    r.TransData = ini.ReadString(s, "TransData", "");
    r.Broadcast = ini.ReadBool(s, "Broadcast", true);
    r.iMaxLogCount = ini.ReadInteger(s, "iMaxLogCount", 50);
    r.SYS_SERVER_TYPE = ini.ReadInteger(s, "SYS_SERVER_TYPE", 1);
    r.iBaseStationID = ini.ReadInteger(s, "iBaseStationID", 0);
    r.ReplyWaitMs = r.SYS_SERVER_TYPE != 0 ? 30000 : 6000;
  } catch (...) {
  }
}

std::string ReadHelpFile() {
  try {
    SysSet().HelpFile = DataLinkIni().ReadString("SysSet", "STR_HELP_FILE", "help.chm");
  } catch (...) {
  }
  return SysSet().HelpFile;
}

std::string ReadCommNo() { return DataLinkIni().ReadString("CommSet", "CommNo", "COM1"); }

int ReadChannelNo() { return StrToIntDef(DataLinkIni().ReadString("CommSet", "ChannelNo", "0"), 0); }

}  // namespace qv

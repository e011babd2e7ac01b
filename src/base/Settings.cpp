#include "base/Settings.h"

#include "base/IniFile.h"
#include "base/Text.h"
#include <cerrno>
#include <cstring>
#include <optional>
#include "base/AppPath.h"

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
    r.writeTrace = ini.ReadBool(s, "writeTrace", false);
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

std::vector<std::string> CheckDataLinkIni() {
  std::vector<std::string> out;
  try {
    const TIniFile ini = DataLinkIni();
    const TIniFile::TReport report = ini.Inspect();
    const std::string all = "; every setting takes its default";
    if (report.error == ENOENT) return {"datalink.ini: no datalink.ini in " + GetAppPath() + all};
    if (report.error != 0)
      return {"datalink.ini: the file cannot be read (" + std::string(std::strerror(report.error)) + ")" +
              all};
    // A garbled file says a few of its lines, not each of thousands.
    constexpr size_t kShown = 10;
    for (size_t i = 0; i < report.notTaken.size() && i < kShown; ++i) {
      const auto& l = report.notTaken[i];
      std::string text = l.text;
      if (text.size() > 60) {
        size_t cut = 60;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole characters
        text = text.substr(0, cut) + "...";
      }
      for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';  // no escapes to a terminal
      out.push_back("datalink.ini: line " + std::to_string(l.number) +
                    (l.outside ? " lies outside any section and is not used: " : " is not understood: ") +
                    text);
    }
    if (report.notTaken.size() > kShown)
      out.push_back("datalink.ini: " + std::to_string(report.notTaken.size() - kShown) +
                    " more lines are not understood");
    if (report.keys == 0) {
      out.push_back("datalink.ini: no settings in the file" + all);
      return out;
    }
    // The number keys the service reads, with the default each one falls back to.
    const struct {
      const char* section;
      const char* key;
      int def;
    } numbers[] = {
        {"SysSet", "startwithsys", 0},     {"SysSet", "writeResult", 0},      {"SysSet", "WriteCommLog", 0},
        {"SysSet", "writeTrace", 0},       {"SysSet", "maxsizeResult", 5120}, {"SysSet", "DelayCount", 200},
        {"SysSet", "BaseCommPsw", 0},      {"SysSet", "Broadcast", 1},        {"SysSet", "iMaxLogCount", 50},
        {"SysSet", "SYS_SERVER_TYPE", 1},  {"SysSet", "iBaseStationID", 0},   {"CommSet", "ChannelNo", 0},
        {"ConnectionString", "NTAuth", 0}, {"ConnectionString", "uport", 0},
    };
    for (const auto& n : numbers) {
      const std::optional<std::string> v = ini.Find(n.section, n.key);
      if (!v || StrToIntDef(*v, 0) != 0 || StrToIntDef(*v, 1) != 1) continue;
      out.push_back("datalink.ini: [" + std::string(n.section) + "] " + n.key + "=" + *v +
                    " is not a number; " + std::to_string(n.def) + " is used");
    }
  } catch (...) {
  }
  return out;
}

std::string ReadCommNo() {
  return DataLinkIni().ReadString("CommSet", "CommNo", "COM1");
}

int ReadChannelNo() {
  return StrToIntDef(DataLinkIni().ReadString("CommSet", "ChannelNo", "0"), 0);
}

}  // namespace qv

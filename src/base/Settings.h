#pragma once
#include <string>
#include <vector>

namespace qv {

struct TStru_SysSet {
  bool startwithsys = false;
  bool writeResult = false;
  bool WriteCommLog = false;
  bool writeTrace = false;  // the frame trace Trace.txt (read at start)
  int maxsizeResult = 5120;
  int DelayCount = 200;
  int BaseCommPsw = 0;
  std::string ShopNO;
  std::string AppTitle = "盘点机无线服务程序";
  std::string TransData;
  bool Broadcast = true;
  int iMaxLogCount = 50;
  int SYS_SERVER_TYPE = 1;
  int iBaseStationID = 0;
  int ReplyWaitMs = 30000;
  std::string HelpFile = "help.chm";
  // Not from the file: the frame trace's path given on the command line (--trace).
  std::string TraceFile;
};

// The process-wide record.
TStru_SysSet& SysSet();

// Reads [SysSet] of datalink.ini into SysSet() and derives ReplyWaitMs.
void LoadSysSet();

// Reads [SysSet] STR_HELP_FILE (default "help.chm") into SysSet().HelpFile and returns it,
// untrimmed; read afresh at each use of the Help command.
std::string ReadHelpFile();

// One line for each thing in datalink.ini the program could not take, so that a default
// used in its place does not go unnoticed: a file that is missing, cannot be read or holds
// no key, a line that is no section, key or comment, a number key whose value is no
// number. Each line begins "datalink.ini". Empty when all is well.
std::vector<std::string> CheckDataLinkIni();

// [CommSet] keys with their defaults, read afresh at each call.
std::string ReadCommNo();  // CommNo, default "COM1"
int ReadChannelNo();       // ChannelNo, default 0; not a number gives 0

}  // namespace qv

#pragma once
// The compiled-in table of the 55 commands a terminal or the download can name.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qv {

struct TStru_CmdList {
  std::string strCmd;      // command name, e.g. "W-PLU"; compared without regard to case
  uint16_t CmdCode = 0;    // code in the terminal frame
  int32_t iOverTime = 0;   // 200 in every row; nothing reads it
  std::string strName;     // display name in the logs
  uint8_t FrameCount = 1;  // result records per reply frame
  bool RtFlag = false;     // single-frame transaction: the frame number does not advance
  bool bRetData = false;   // true: read request answered with records; false: upload
};

// All rows, in table (search) order.
std::span<const TStru_CmdList> CmdList();

// The first row with this code, or nullptr.
const TStru_CmdList* GetCmdByCode(uint16_t Code);
// The first row whose strCmd equals Name after upper-casing both (ASCII), or nullptr.
const TStru_CmdList* GetCmdByName(std::string_view Name);

// The same lookups as the callers use them: copy the row into Entry and return true, or
// return false and leave Entry untouched.
bool GetCmdByCode(TStru_CmdList& Entry, uint16_t Code);
bool GetCmdByName(TStru_CmdList& Entry, std::string_view Name);

}  // namespace qv

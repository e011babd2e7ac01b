#include "link/Exchange.h"

#include <exception>

#include "base/Logging.h"
#include "base/OpLog.h"
#include "base/Settings.h"
#include "base/ResultCodes.h"

namespace qv::exchange_detail {

int Finish(TLink& link, int r, int iPDANo, const TStru_CmdList& cmd, const std::string& strResult) {
  try {
    std::string text = iErrToStr(r);
    if (r == RC_TIMEOUT) return r;  // the terminal gives up on its own
    if (r != RC_OK) {
      if (!strResult.empty()) text = strResult;
      link.SendErr(r, iPDANo, text);
    }
    WriteCommDayLog(FormatCommDayLine(iPDANo, cmd.strName, r, text));
    OpLog().WriteLvLog(iPDANo, cmd.strName, text, true);
  } catch (...) {
    WriteErrLog("Finish except:" + ExceptionText());
  }
  return r;
}

bool RepeatAllowed(TLink& link, uint32_t frameStart) {
  const uint32_t spent = link.GetTickCount() - frameStart;
  return static_cast<int64_t>(spent) < SysSet().ReplyWaitMs;
}

}  // namespace qv::exchange_detail

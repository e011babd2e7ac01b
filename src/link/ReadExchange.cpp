#include "link/ReadExchange.h"

#include <cstring>
#include <vector>

#include "base/Logging.h"
#include "base/Settings.h"
#include "link/Exchange.h"
#include "base/ResultCodes.h"

namespace qv {

using namespace exchange_detail;

int Send_Data_ToPDA(TLink& link, int iPDANo, const TStru_CmdList& cmd, const TReadRowFn& readRow) {
  TStru_CHGDATA chg;
  chg.iPDANo = iPDANo;
  int r = RC_OK;
  try {
    const int recLen = link.RecLen();
    if (recLen > 16 && recLen <= static_cast<int>(kRecBufferSize)) {
      chg.iDataLen = recLen - 16;
      std::memcpy(chg.wDataBuf, link.RecBuffer() + 14, static_cast<size_t>(chg.iDataLen));
    }
    r = Read_Data_FrmDB(link, chg, cmd, readRow);
    if (r != RC_OK) return Finish(link, r, iPDANo, cmd, chg.strResult);

    const int per = cmd.FrameCount;  // not 0: the packing refused that with RC_SVC_BADCMD
    const int frames = chg.iRecCount <= 0 ? 1 : (chg.iRecCount + per - 1) / per;
    const uint32_t psw = static_cast<uint32_t>(SysSet().BaseCommPsw);
    for (int i = 0; i < frames; ++i) {
      if (i > 0) {
        chg.iCallStep = i;
        chg.iDataLen = 0;
        r = Read_Data_FrmDB(link, chg, cmd, readRow);
        if (r != RC_OK) return Finish(link, r, iPDANo, cmd, chg.strResult);
      }
      if (i == frames - 1) chg.iFrNo = 0;
      const std::vector<uint8_t> frame = BuildTermFrame(psw, static_cast<uint32_t>(iPDANo), CMD_OK, chg.iFrNo,
                                                        chg.wDataBuf, static_cast<size_t>(chg.iDataLen));
      const uint32_t frameStart = link.GetTickCount();
      bool confirmed = false;
      bool send = true;
      while (!confirmed) {
        if (send) {
          r = link.WriteDataToComm(frame);
          if (r != RC_OK) return Finish(link, r, iPDANo, cmd, chg.strResult);
        }
        r = link.WaitReply(SysSet().ReplyWaitMs);
        if (r != RC_OK) return Finish(link, RC_TIMEOUT, iPDANo, cmd, chg.strResult);
        const uint8_t* ans = link.RecBuffer();
        const uint16_t word = FrameWord(ans);
        if (word == CMD_END) {
          r = SysSet().SYS_SERVER_TYPE == 1 ? link.SendOK(0, iPDANo, "") : RC_OK;
          return Finish(link, r, iPDANo, cmd, chg.strResult);
        }
        if (word == CMD_ER) return Finish(link, ans[14], iPDANo, cmd, chg.strResult);
        if (word == CMD_RESEND) {
          send = true;
        } else if (word == CMD_WT) {
          send = false;
        } else if (FrameNo(ans) == chg.iFrNo) {
          confirmed = true;
          continue;
        } else {
          chg.iFrNo = FrameNo(ans);
          send = true;
        }
        // A terminal that keeps the same frame going gets no more than one reply time.
        if (!RepeatAllowed(link, frameStart)) return Finish(link, RC_TIMEOUT, iPDANo, cmd, chg.strResult);
      }
    }
    r = RC_OK;
  } catch (...) {
    WriteErrLog("Send_Data_ToPDA except:" + ExceptionText());
    if (r == RC_OK) r = RC_SVC_PREPARE;
  }
  return Finish(link, r, iPDANo, cmd, chg.strResult);
}

}  // namespace qv

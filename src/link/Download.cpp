#include "link/Download.h"

#include <algorithm>

#include "base/OpLog.h"
#include "base/Settings.h"
#include "link/Catalogue.h"
#include "link/Frames.h"
#include "base/ResultCodes.h"

namespace qv {
namespace {

constexpr int kFrameAnswerMs = 2000;
constexpr int kBroadcastGapMs = 400;
constexpr int kMaxRepeats = 2;

const TDownType kTypes[9] = {
    {"W-SHOP", nullptr},  {"W-DEPT", nullptr},  {"W-PLU", "W-PLUINDEX"},
    {"W-SPEC", nullptr},  {"W-GROUP", nullptr}, {"W-MAKE", "W-MINDEX"},
    {"W-PMAKE", nullptr}, {"W-CAUSE", nullptr}, {"W-DPLAN", nullptr},
};

}  // namespace

const TDownType* DownTypeOf(int p) {
  return p >= 1 && p <= 9 ? &kTypes[p - 1] : nullptr;
}

void TDownload::Run(const std::string& transData, bool broadcast) {
  link_.Delay(200);
  for (size_t i = 0; i < transData.size(); ++i) {
    if (transData[i] != '1') continue;
    const TDownType* type = DownTypeOf(static_cast<int>(i) + 1);
    if (!type) continue;
    if (broadcast) {
      int r = DownloadData(0, type->strMain);
      CollectBroadcastResults(type->strMain);
      if (type->strIndex && r == RC_OK) {
        DownloadData(0, type->strIndex);
        CollectBroadcastResults(type->strIndex);
      }
    } else {
      for (int t : checked_()) {
        const int r = DownloadData(t, type->strMain);
        if (type->strIndex && r == RC_OK) DownloadData(t, type->strIndex);
        if (r != RC_OK) return;  // the first failed main command ends the download
      }
    }
  }
}

int TDownload::Report(int r, int n, const TStru_CHGDATA& chg) {
  std::string text = iErrToStr(r);
  if (r != RC_OK) {
    if (!chg.strResult.empty()) text = chg.strResult;
    link_.SendErr(r, n, text);
  }
  OpLog().WriteLvLog(n, "", text, false);
  return r;
}

int TDownload::DownloadData(int n, const std::string& cmdName) {
  if (bStopDown) return RC_OK;
  TStru_CHGDATA chg;
  const TStru_CmdList* cmd = GetCmdByName(cmdName);
  if (!cmd) return RC_BADCMD;
  link_.CurPDANo = n;
  OpLog().WriteLvLog(n, cmd->strName, "", true);
  chg.iPDANo = n;

  int r = poller_.CallTerminal(n);
  if (r != RC_OK) return Report(r, n, chg);
  r = Read_Data_FrmDB(link_, chg, *cmd, readRow_);
  if (r != RC_OK) return Report(r, n, chg);

  const int per = std::max<int>(1, cmd->FrameCount);
  const int total = chg.iRecCount;
  const int frames = total <= 0 ? 1 : (total + per - 1) / per;
  const uint32_t psw = n == 0 ? 0 : static_cast<uint32_t>(SysSet().BaseCommPsw);
  for (int i = 0; i < frames; ++i) {
    if (i > 0) {
      chg.iDataLen = 0;
      chg.iCallStep = i;  // the procedure runs once, whatever number the terminal echoed
      r = Read_Data_FrmDB(link_, chg, *cmd, readRow_);
      if (r != RC_OK) return Report(r, n, chg);
    }
    OpLog().WriteLvLog(
        n, "", "正在发送:" + std::to_string(std::min((i + 1) * per, total)) + "/" + std::to_string(total),
        false);
    const bool last = i == frames - 1;
    if (last) chg.iFrNo = 0;
    const std::vector<uint8_t> frame = BuildTermFrame(
        psw, static_cast<uint32_t>(n), cmd->CmdCode, chg.iFrNo, chg.wDataBuf,
        static_cast<size_t>(std::clamp<int32_t>(chg.iDataLen, 0, static_cast<int32_t>(kMaxPayload))));
    int retries = 0;
    bool bEndSent = false;
    bool send = true;
    for (;;) {
      if (send) {
        r = link_.WriteDataToComm(frame);
        if (r != RC_OK) return Report(r, n, chg);
        if (n == 0) {  // nobody answers a broadcast
          link_.Delay(kBroadcastGapMs);
          if (last) {
            link_.SendClose(0);
            bEndSent = true;
          }
          break;
        }
      }
      send = true;
      if (link_.WaitReply(kFrameAnswerMs) != RC_OK) {
        if (++retries <= kMaxRepeats && !bEndSent) continue;
        return Report(RC_TIMEOUT, n, chg);
      }
      retries = 0;
      const uint8_t* ans = link_.RecBuffer();
      const uint16_t word = FrameWord(ans);
      if (word == CMD_RESEND) continue;
      if (word == CMD_OK) {
        if (!bEndSent) {
          // The number in the frame itself: after a wrong acknowledgement iFrNo holds that.
          const uint8_t sent = frame[12];
          chg.iFrNo = FrameNo(ans);
          if (chg.iFrNo != sent) continue;  // the same bytes again
          if (last) {
            link_.SendClose(n);
            bEndSent = true;
          }
        }
        break;
      }
      if (word == CMD_ER) return Report(ans[14], n, chg);
      if (word == CMD_WT) {
        send = false;
        continue;
      }
      return Report(RC_BADCMD, n, chg);
    }
  }
  return Report(RC_OK, n, chg);
}

void TDownload::CollectBroadcastResults(const std::string& cmdName) {
  if (bStopDown) return;
  link_.Delay(200);
  const TStru_CmdList* cmd = GetCmdByName(cmdName);
  const std::string name = cmd ? cmd->strName : cmdName;
  for (int t : checked_()) {
    const int r = QueryBroadcastResult(t);
    OpLog().WriteLvLog(t, name, iErrToStr(r), true);
  }
}

int TDownload::QueryBroadcastResult(int t) {
  int r = poller_.CallTerminal(t);
  if (r != RC_OK) return r;
  r = link_.SendResultQuery(t);
  if (r != RC_OK) return r;
  for (;;) {
    if (link_.WaitReply(kFrameAnswerMs) != RC_OK) return RC_TIMEOUT;
    const uint8_t* ans = link_.RecBuffer();
    const uint16_t word = FrameWord(ans);
    if (word == CMD_OK) {
      link_.SendClose(t);
      return RC_OK;
    }
    if (word == CMD_ER) return ans[14];
    if (word == CMD_WT) continue;
    return RC_BADCMD;
  }
}

}  // namespace qv

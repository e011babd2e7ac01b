#include "link/Poller.h"

#include <exception>
#include <string>

#include "base/Logging.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "link/Catalogue.h"
#include "base/ResultCodes.h"

namespace qv {
namespace {

constexpr uint32_t kKeepAliveMs = 1500;
constexpr int kPollAnswerMs = 300;
constexpr int kCallAnswerMs = 2000;
constexpr int kCallAttempts = 3;
constexpr int kMaxSendErrors = 3;

}  // namespace

void TPoller::tmrCheckTimer() {
  if (link_.iSendErrCount >= kMaxSendErrors) {
    service_.StopService();
    service_.SetAutoRunFlag(true);
    link_.iSendErrCount = 0;
    return;
  }
  if (bPollIdle) {
    RunLoop();
    return;
  }
  KeepAlive();
}

void TPoller::RunLoop() {
  bPollIdle = false;
  try {
    while (service_.IsCheckTimerEnabled()) {
      if (SysSet().SYS_SERVER_TYPE == 0) {
        DealPDACmd(0);
      } else {
        // A copy: the list may change while the cycles below process messages.
        const std::vector<std::string> list = terminals_.PosNoList();
        if (list.empty()) break;
        for (const std::string& entry : list) {
          // A stop ends the sweep after the poll under way: the rest would only count
          // refused writes on the closed port and stop the next start at once.
          if (!service_.IsCheckTimerEnabled()) break;
          const int n = StrToIntDef(entry, 0);
          if (n != 0) DealPDACmd(n);
        }
      }
      if (IPump* pump = link_.Pump()) pump->ProcessMessages();
    }
  } catch (...) {
    WriteErrLog("Auto Run except:" + ExceptionText(std::current_exception()));
  }
  bPollIdle = true;
}

void TPoller::KeepAlive() {
  try {
    if (link_.bDataBusy && link_.GetTickCount() - link_.BusyTick >= kKeepAliveMs) {
      link_.SendWait(link_.CurPDANo);
      link_.SetDataBusy(true);
    }
  } catch (...) {
    WriteErrLog("replyWait except:" + ExceptionText(std::current_exception()));
  }
}

int TPoller::DealPDACmd(int iPDANo) {
  int r = AskPDA(iPDANo);
  if (r != RC_OK) return r;
  const uint32_t granted = link_.GetTickCount();
  for (;;) {
    r = link_.WaitReply(SysSet().ReplyWaitMs);
    if (r != RC_OK) return RC_TIMEOUT;
    const uint8_t* buf = link_.RecBuffer();
    const uint16_t word = FrameWord(buf);
    if (word == CMD_ER) return buf[14];
    if (word == CMD_WT) {
      // The budget of a repeated frame in the exchanges: "WT" restarts the wait only while
      // less than one reply time has passed since the grant, so one terminal cannot hold
      // the loop for longer than twice that.
      if (static_cast<int64_t>(link_.GetTickCount() - granted) >= SysSet().ReplyWaitMs) return RC_TIMEOUT;
      continue;
    }
    const TStru_CmdList* cmd = GetCmdByCode(word);
    // An unknown request gets no answer; the terminal gives up on its own.
    if (!cmd || !handler_) return RC_BADCMD;
    const int t = static_cast<int32_t>(FrameFieldA(buf));
    return cmd->bRetData ? handler_->Send_Data_ToPDA(t, *cmd) : handler_->Save_Data_FrmPDA(t, *cmd);
  }
}

int TPoller::AskPDA(int iPDANo) {
  link_.CurPDANo = 0;
  int r = link_.SendPoll(iPDANo);
  if (r != RC_OK) return r;
  if (link_.WaitReply(kPollAnswerMs) != RC_OK) return RC_TIMEOUT;
  const uint8_t* buf = link_.RecBuffer();
  // No grant: DealPDACmd then waits for a request as it would after one.
  if (FrameWord(buf) != CMD_ANSWER) return RC_OK;
  const int t = static_cast<int32_t>(FrameFieldA(buf));
  if (FrameFieldB(buf) != static_cast<uint32_t>(SysSet().BaseCommPsw)) {
    link_.SendErr(RC_BADPSW, t, "通迅密码错误");
    return RC_BADPSW;
  }
  link_.CurPDANo = t;
  if (clearLastBillNo_) clearLastBillNo_();
  return link_.SendGrant(t);
}

int TPoller::CallTerminal(int iPDANo) {
  for (int attempt = 0; attempt < kCallAttempts; ++attempt) {
    int r = link_.SendCall(iPDANo);
    if (r != RC_OK || iPDANo == 0) {  // a broadcast call is answered by nobody
      link_.Delay(100);
      return r;
    }
    if (link_.WaitReply(kCallAnswerMs) != RC_OK) continue;
    const uint8_t* buf = link_.RecBuffer();
    if (FrameFieldB(buf) != static_cast<uint32_t>(SysSet().BaseCommPsw)) {
      link_.SendErr(RC_BADPSW, iPDANo, "通迅密码错误");
      return RC_BADPSW;
    }
    if (FrameWord(buf) == CMD_ER) return buf[14];
    return RC_OK;
  }
  return RC_TIMEOUT;
}

}  // namespace qv

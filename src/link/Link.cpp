#include "link/Link.h"

#include <cstring>
#include <exception>

#include "base/Clock.h"
#include "base/Logging.h"
#include "base/OpLog.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "base/ResultCodes.h"

namespace qv {
namespace {

uint32_t Psw() {
  return static_cast<uint32_t>(SysSet().BaseCommPsw);
}

// What the trace says of a received frame besides its meaning.
const char* VerdictNote(TRecVerdict verdict) {
  switch (verdict) {
    case TRecVerdict::Accept:
      return "";
    case TRecVerdict::Drop:
      return "dropped";
    case TRecVerdict::Interference:
      return "dropped: taken as radio interference";
    case TRecVerdict::BaseBusy:
      return "another terminal is being served: told to wait";
  }
  return "";
}

constexpr const char* kRefused = "write refused by the port, not sent";

}  // namespace

void TLink::OnReceiveData(const uint8_t* data, uint32_t count) {
  if (!bRecFree) {
    if (trace_ && count && data)
      trace_->TraceChunk(data, count, "dropped: came while the frame before was handled");
    return;
  }
  bRecFree = false;
  // Restores the guard on every way out.
  struct TGuard {
    bool& flag;
    ~TGuard() { flag = true; }
  } guard{bRecFree};
  if (count == 0 || data == nullptr) return;
  try {
    const bool base = port_ && port_->DtrControl() == TLinkDtr::DtrEnable;
    const TFraming& framing = base ? kBaseFraming : kTermFraming;
    const bool waited = Rec.Complete();
    if (!Rec.Feed(framing, data, count)) {
      if (trace_) TraceUnusedChunk(data, count, waited);
      return;
    }
    // Usually a chunk is exactly one frame, and the frame's line shows it; otherwise the chunk
    // gets a line of its own, so the trace shows every byte that came.
    if (trace_ && (Rec.RecLen != static_cast<int>(count) || std::memcmp(Rec.RecBuffer, data, count) != 0))
      trace_->TraceChunk(data, count, "ends the frame on the next line; any bytes after its end are dropped");
    const bool ok = TakeFrame(framing);
    Rec.FrameReady = ok;
    if (!ok) Rec.ResetRecBuffer();
  } catch (...) {
    WriteErrLog("PDAReceiveData Except:" + ExceptionText(std::current_exception()));
  }
}

void TLink::TraceUnusedChunk(const uint8_t* data, uint32_t count, bool waited) {
  if (waited) {
    trace_->TraceChunk(data, count, "dropped: the frame before is not taken yet");
  } else if (Rec.bHeadByte || Rec.bInFrame) {
    const int held = Rec.RecIndex + 1;
    trace_->TraceChunk(
        data, count,
        "part of a frame, " + std::to_string(held) + (held == 1 ? " byte" : " bytes") + " so far");
  } else {
    trace_->TraceChunk(data, count, "dropped: no frame begins in it");
  }
}

bool TLink::TakeFrame(const TFraming& framing) {
  try {
    const TRecCheck check = CheckRecDataOK(framing, Rec.RecBuffer, Rec.RecLen, CurPDANo);
    // Before acting on the verdict: a busy answer then follows its cause in the trace.
    if (trace_)
      trace_->TraceFrame(false, Rec.RecBuffer, static_cast<size_t>(Rec.RecLen), VerdictNote(check.verdict));
    switch (check.verdict) {
      case TRecVerdict::Accept:
        return true;
      case TRecVerdict::Drop:
        return false;
      case TRecVerdict::Interference:
        OpLog().WriteLvLog(0, "系统提示", "系统检测到信号干扰，建议您更换信道!", true);
        return false;
      case TRecVerdict::BaseBusy:
        SendErr(RC_BASEBUSY, check.sender, "");
        return false;
    }
  } catch (...) {
    WriteErrLog("CheckRecDataOK Except:" + ExceptionText(std::current_exception()));
  }
  return false;
}

int TLink::WriteDataToComm(const uint8_t* buffer, uint32_t count) {
  bool queued = false;
  try {
    queued = port_ && port_->WriteCommData(buffer, count);
  } catch (...) {
    // Nothing was queued, so this is a refused write like any other and counts towards
    // the automatic stop.
    WriteErrLog("WriteDataToComm except:" + ExceptionText(std::current_exception()));
  }
  if (trace_) trace_->TraceFrame(true, buffer, count, queued ? "" : kRefused);
  if (queued) return RC_OK;
  ++iSendErrCount;
  return RC_SENDFAIL;
}

int TLink::SendShort(uint32_t fieldA, int iPDANo, uint16_t word) {
  return WriteDataToComm(BuildTermFrame(fieldA, static_cast<uint32_t>(iPDANo), word, 0));
}

// The open forms (terminal 0) carry 0 in field A as well.
int TLink::SendPoll(int iPDANo) {
  return SendShort(iPDANo == 0 ? 0 : Psw(), iPDANo, CMD_POLL);
}
int TLink::SendCall(int iPDANo) {
  return SendShort(iPDANo == 0 ? 0 : Psw(), iPDANo, CMD_CALL);
}
int TLink::SendGrant(int iPDANo) {
  return SendShort(Psw(), iPDANo, CMD_GRANT);
}
int TLink::SendClose(int iPDANo) {
  return SendShort(Psw(), iPDANo, CMD_CLOSE);
}
int TLink::SendResultQuery(int iPDANo) {
  return SendShort(Psw(), iPDANo, CMD_RESULTQUERY);
}
int TLink::SendWait(int iPDANo) {
  return SendShort(Psw(), iPDANo, CMD_WT);
}

int TLink::SendText(uint16_t word, uint8_t frNo, int iPDANo, const std::string& prefix,
                    const std::string& strText) {
  std::string gbk = Utf8ToGbk(strText);
  if (gbk.size() > kMaxTextBytes) gbk.resize(kMaxTextBytes);  // may split a character
  const std::string payload = prefix + gbk;
  return WriteDataToComm(BuildTermFrame(Psw(), static_cast<uint32_t>(iPDANo), word, frNo,
                                        reinterpret_cast<const uint8_t*>(payload.data()), payload.size()));
}

int TLink::SendOK(uint8_t iFrNo, int iPDANo, const std::string& strText) {
  return SendText(CMD_OK, iFrNo, iPDANo, std::string(), strText);
}

int TLink::SendErr(int iCode, int iPDANo, const std::string& strText) {
  // One byte carries the code: a code beyond it must still read as a failure, not as the
  // success or the other failure its low byte would be.
  const int code = iCode >= 0 && iCode <= 0xFF ? iCode : 0xFF;
  return SendText(CMD_ER, 0, iPDANo, std::string(1, static_cast<char>(code)), strText);
}

void TLink::SendBaseCmd(uint8_t cmd, uint8_t len, const uint8_t* data) {
  std::vector<uint8_t> f;
  bool queued = false;
  try {
    f = BuildBaseFrame(cmd, data, len);
    queued = port_ && port_->WriteCommData(f.data(), static_cast<uint32_t>(f.size()));
  } catch (...) {
    WriteErrLog("SendBaseCmd except:" + ExceptionText(std::current_exception()));
  }
  if (trace_ && !f.empty()) trace_->TraceFrame(true, f.data(), f.size(), queued ? "" : kRefused);
}

uint32_t TLink::GetTickCount() {
  return ClockTick();
}

int TLink::WaitReply(int iTimeOutMs) {
  Rec.ResetRecBuffer();
  if (!pump_ || bStopRequested) return RC_TIMEOUT;
  const uint32_t start = ClockTick();
  for (;;) {
    // The tick is taken before the messages are handled, so a frame that arrives during
    // the last pass, or during the sleep before it (a pump may deliver events while it
    // sleeps), still ends in a time-out.
    const uint32_t now = ClockTick();
    pump_->ProcessMessages();
    const int64_t elapsed = static_cast<int64_t>(now - start);
    if (elapsed >= iTimeOutMs || bStopRequested) return RC_TIMEOUT;
    if (Rec.FrameReady) return RC_OK;
    // Until the deadline or the next event: received data and timer ticks wake the pump.
    pump_->Sleep(static_cast<uint32_t>(iTimeOutMs - elapsed));
  }
}

void TLink::Delay(int iMs) {
  if (!pump_ || bStopRequested) return;
  const uint32_t start = ClockTick();
  uint32_t now = start;
  do {
    const int64_t left = iMs - static_cast<int64_t>(now - start);
    pump_->Sleep(left > 0 ? static_cast<uint32_t>(left) : 1);
    now = ClockTick();
    pump_->ProcessMessages();
  } while (static_cast<int64_t>(now - start) < iMs && !bStopRequested);
}

void TLink::SetDataBusy(bool bValue) {
  bDataBusy = bValue;
  BusyTick = GetTickCount();
}

}  // namespace qv

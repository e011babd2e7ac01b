#pragma once
// The link state of the service: receive state, current terminal, write-failure count,
// busy flag, the actions on the acceptance check's verdict, the frame senders and the two
// waits. The application owns one; tests make fresh ones.
#include <cstdint>
#include <string>
#include <vector>

#include "link/Frames.h"
#include "link/LinkInterfaces.h"
#include "link/Reassembly.h"

namespace qv {

class TLink {
 public:
  TLink() = default;
  TLink(const TLink&) = delete;
  TLink& operator=(const TLink&) = delete;

  void SetPort(ILinkPort* port) { port_ = port; }
  ILinkPort* Port() const { return port_; }
  void SetPump(IPump* pump) { pump_ = pump; }
  IPump* Pump() const { return pump_; }
  // The field trace: every frame written and received, and what became of it (nullptr: none).
  void SetTrace(ILinkTrace* trace) { trace_ = trace; }
  ILinkTrace* Trace() const { return trace_; }

  // Receiving. OnReceiveData is the port's received-data handler (cmPDAReceiveData): the
  // DTR line picks the framing, the assembler collects the frame, and the acceptance
  // check's verdict decides.
  void OnReceiveData(const uint8_t* data, uint32_t count);
  bool DataToRecBuffer(const uint8_t* data, uint32_t count) { return Rec.DataToRecBuffer(data, count); }
  bool BaseDataToRecBuffer(const uint8_t* data, uint32_t count) {
    return Rec.BaseDataToRecBuffer(data, count);
  }
  void ResetRecBuffer() { Rec.ResetRecBuffer(); }
  const uint8_t* RecBuffer() const { return Rec.RecBuffer; }
  int RecLen() const { return Rec.RecLen; }
  bool FrameReady() const { return Rec.FrameReady; }

  // Sending; each returns RC_OK when the frame was queued, RC_SENDFAIL when not.
  int WriteDataToComm(const uint8_t* buffer, uint32_t count);
  int WriteDataToComm(const std::vector<uint8_t>& frame) {
    return WriteDataToComm(frame.data(), static_cast<uint32_t>(frame.size()));
  }
  int SendPoll(int iPDANo);
  int SendCall(int iPDANo);
  int SendGrant(int iPDANo);
  int SendClose(int iPDANo);
  int SendResultQuery(int iPDANo);
  int SendWait(int iPDANo);
  int SendOK(uint8_t iFrNo, int iPDANo, const std::string& strText);  // UTF-8 text
  // A code outside 0..255 goes out as 255.
  int SendErr(int iCode, int iPDANo, const std::string& strText);
  // A base-station command frame straight to the port; the write result is not reported
  // and not counted (the caller's wait times out instead). The caller raises DTR.
  void SendBaseCmd(uint8_t cmd, uint8_t len, const uint8_t* data);

  // Waiting, with messages processed meanwhile. WaitReply: RC_OK when an accepted frame is in
  // RecBuffer, RC_TIMEOUT on time-out.
  int WaitReply(int iTimeOutMs);
  void Delay(int iMs);
  void SetDataBusy(bool bValue);
  // A stop of the service or of the program: from now on every wait, the one under way
  // included, ends at once as a time-out, so the exchange ends as it would on a silent
  // terminal and the polling loop and the download unwind. Cleared when the service starts.
  void RequestStop() { bStopRequested = true; }
  void ClearStop() { bStopRequested = false; }
  bool StopRequested() const { return bStopRequested; }
  uint32_t GetTickCount();  // the program's clock (base/Clock.h)

  TFrameAssembler Rec;
  int32_t CurPDANo = 0;       // terminal being served; 0 while none
  int32_t iSendErrCount = 0;  // refused writes since the last automatic stop
  bool bRecFree = true;       // no re-entry of the receive handler
  bool bDataBusy = false;     // the database is working on a request
  uint32_t BusyTick = 0;      // tick of the last change of bDataBusy or the last "WT"

 private:
  // Checks the whole frame in Rec and acts on the verdict: true when it stays for the
  // exchange; a busy answer or the interference line otherwise.
  bool TakeFrame(const TFraming& framing);
  // The trace of a received chunk that completed no frame; waited: a whole frame lay in
  // RecBuffer before it came.
  void TraceUnusedChunk(const uint8_t* data, uint32_t count, bool waited);
  int SendShort(uint32_t fieldA, int iPDANo, uint16_t word);
  int SendText(uint16_t word, uint8_t frNo, int iPDANo, const std::string& prefix,
               const std::string& strText);

  ILinkPort* port_ = nullptr;
  IPump* pump_ = nullptr;
  ILinkTrace* trace_ = nullptr;
  bool bStopRequested = false;
};

}  // namespace qv

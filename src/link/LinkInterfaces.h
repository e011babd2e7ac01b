#pragma once
// The small seams between the link core and the rest of the program. The application
// passes its serial port, its Qt pump, its window and its exchange handlers; tests pass
// fakes on a virtual clock.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

struct TStru_CmdList;

// DTR low: terminal frames; DTR raised: base-station command frames.
enum class TLinkDtr { DtrDisable, DtrEnable };

class ILinkPort {
 public:
  virtual ~ILinkPort() = default;
  // Queues the bytes for writing; false when the port refuses them.
  virtual bool WriteCommData(const uint8_t* data, uint32_t count) = 0;
  virtual TLinkDtr DtrControl() const = 0;
  virtual void SetDtrControl(TLinkDtr value) = 0;
};

// Where the link reports what goes over the line, for the field trace. The link holds a
// pointer to one (nullptr: no trace, and then it costs one test per frame). Must not throw
// and must not wait for more than one write of its own.
class ILinkTrace {
 public:
  virtual ~ILinkTrace() = default;
  // A frame handed to the port (fromPc) or received whole. note is empty when it went out or
  // was taken as it stands, else it says what became of it.
  virtual void TraceFrame(bool fromPc, const uint8_t* data, size_t len, std::string_view note) = 0;
  // Received bytes that are not one whole frame by themselves (a piece of one, noise, what
  // came while the frame before still waited) and what became of them.
  virtual void TraceChunk(const uint8_t* data, size_t len, std::string_view what) = 0;
  // Something the port did: opened, closed, hang-up.
  virtual void TracePortEvent(std::string_view text) = 0;
};

// The message loop as the waits see it; the waits read the time from the program's clock
// (base/Clock.h).
class IPump {
 public:
  virtual ~IPump() = default;
  // Handles pending messages once (received data, timer ticks, user input).
  virtual void ProcessMessages() = 0;
  // Waits about ms milliseconds; may return early when a message arrives.
  virtual void Sleep(uint32_t ms) = 0;
};

// What the polling cycle needs of the service window.
class IServiceControl {
 public:
  virtual ~IServiceControl() = default;
  virtual bool IsCheckTimerEnabled() = 0;
  // Stops the service the way the menu command "停止服务" does.
  virtual void StopService() = 0;
  virtual void SetAutoRunFlag(bool bValue) = 0;
};

// The terminal numbers of the terminal list, as text (PosNoList).
class ITerminalList {
 public:
  virtual ~ITerminalList() = default;
  virtual std::vector<std::string> PosNoList() = 0;
};

// The read and upload exchanges; the request frame is in the link's RecBuffer.
class IExchangeHandler {
 public:
  virtual ~IExchangeHandler() = default;
  virtual int Send_Data_ToPDA(int iPDANo, const TStru_CmdList& cmd) = 0;
  virtual int Save_Data_FrmPDA(int iPDANo, const TStru_CmdList& cmd) = 0;
};

}  // namespace qv

#pragma once
// The PC's side of a simulator run without the application: TComm as the link's port and
// a pump over a queue dispatcher, for tests, benchmarks and tools.
#include <string>

#include "link/Link.h"
#include "link/LinkInterfaces.h"
#include "serial/Comm.h"
#include "serial/QueueDispatcher.h"

namespace qv::sim {

class TCommLinkPort : public ILinkPort {
 public:
  explicit TCommLinkPort(TComm& comm) : comm_(comm) {}
  bool WriteCommData(const uint8_t* data, uint32_t count) override {
    return comm_.WriteCommData(data, count);
  }
  TLinkDtr DtrControl() const override {
    return comm_.DtrControl() == TDtrControl::DtrDisable ? TLinkDtr::DtrDisable : TLinkDtr::DtrEnable;
  }
  void SetDtrControl(TLinkDtr v) override {
    comm_.SetDtrControl(v == TLinkDtr::DtrDisable ? TDtrControl::DtrDisable : TDtrControl::DtrEnable);
  }

 private:
  TComm& comm_;
};

class TQueuePump : public IPump {
 public:
  explicit TQueuePump(QueueDispatcher& d) : d_(d) {}
  void ProcessMessages() override { d_.RunPending(); }
  // Returns early when a call comes in, having run it.
  void Sleep(uint32_t ms) override { d_.RunOne(std::chrono::milliseconds(ms)); }

 private:
  QueueDispatcher& d_;
};

// A link on a TComm opened on path: 115200 baud, 1 ms read interval, no flow control,
// received chunks into the link's receive handler.
struct TPcSide {
  explicit TPcSide(const std::string& path);
  ~TPcSide();
  TPcSide(const TPcSide&) = delete;
  TPcSide& operator=(const TPcSide&) = delete;

  int started = 0;  // StartComm's result
  QueueDispatcher dispatcher;
  TComm comm{dispatcher};
  TCommLinkPort port{comm};
  TQueuePump pump{dispatcher};
  TLink link;
};

}  // namespace qv::sim

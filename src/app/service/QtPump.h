#pragma once
// The link code's view of the Qt event loop.
#include <QElapsedTimer>

#include "link/LinkInterfaces.h"

namespace qv {

class TQtPump : public IPump {
 public:
  TQtPump();
  void ProcessMessages() override;
  uint32_t GetTickCount() override;
  // Blocks in the event loop until an event arrives or ms have passed, so an idle wait
  // costs no CPU.
  void Sleep(uint32_t ms) override;

 private:
  QElapsedTimer clock_;
};

// The process-wide pump of the service.
TQtPump& QtPump();

}  // namespace qv

#pragma once
// The link code's view of the Qt event loop.
#include "link/LinkInterfaces.h"

namespace qv {

class TQtPump : public IPump {
 public:
  void ProcessMessages() override;
  // Blocks in the event loop until an event arrives or ms have passed, so an idle wait
  // costs no CPU.
  void Sleep(uint32_t ms) override;
};

// The process-wide pump of the service.
TQtPump& QtPump();

}  // namespace qv

#pragma once
// Hands the serial threads' events to the Qt main thread, in posting order.
#include "serial/Comm.h"

namespace qv {

class TQtCommDispatcher : public ICommDispatcher {
 public:
  void Post(std::function<void()> call) override;
};

TQtCommDispatcher& QtCommDispatcher();

}  // namespace qv

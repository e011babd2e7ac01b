#pragma once
// The database layer's wait, in the service: a request waits for its socket (or its ODBC
// worker) inside the Qt event loop, so that the nested check ticks send the terminal its
// "WT" keep-alive and the window stays responsive while a procedure runs.
#include "db/Db.h"

namespace qv {

class TQtDbWait : public db::IDbWait {
 public:
  TResult WaitReadable(int Fd, int TimeoutMs) override;
  // Gives the request under way up: its wait returns Cancelled as soon as the event that
  // asked for it has been handled. Nothing happens when no request waits.
  void Cancel();
  bool Waiting() const { return depth_ > 0; }

 private:
  int depth_ = 0;
  bool cancel_ = false;
};

}  // namespace qv

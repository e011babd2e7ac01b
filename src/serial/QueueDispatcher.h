#pragma once
// A dispatcher for programs without an event loop (tests, tools, benchmarks): worker
// threads post calls, the owner thread runs them when it asks.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "serial/Comm.h"

namespace qv {

class QueueDispatcher : public ICommDispatcher {
 public:
  void Post(std::function<void()> call) override;

  // Runs the calls queued now; returns how many ran.
  int RunPending();
  // Runs posted calls as they come until done() holds or the timeout passes; returns done().
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Waits up to timeout for one call and runs it; false if none came.
  bool RunOne(std::chrono::milliseconds timeout);

 private:
  std::mutex FMutex;
  std::condition_variable FCv;
  std::deque<std::function<void()>> FCalls;
};

}  // namespace qv

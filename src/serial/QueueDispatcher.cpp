#include "serial/QueueDispatcher.h"

namespace qv {

void QueueDispatcher::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lk(FMutex);
    FCalls.push_back(std::move(call));
  }
  FCv.notify_one();
}

int QueueDispatcher::RunPending() {
  std::deque<std::function<void()>> now;
  {
    std::lock_guard<std::mutex> lk(FMutex);
    now.swap(FCalls);
  }
  for (std::size_t i = 0; i < now.size(); ++i) {
    try {
      now[i]();
    } catch (...) {
      // The calls not run yet go back to the front, in their order.
      std::lock_guard<std::mutex> lk(FMutex);
      FCalls.insert(FCalls.begin(), std::make_move_iterator(now.begin() + static_cast<std::ptrdiff_t>(i) + 1),
                    std::make_move_iterator(now.end()));
      throw;
    }
  }
  return static_cast<int>(now.size());
}

bool QueueDispatcher::RunOne(std::chrono::milliseconds timeout) {
  std::function<void()> call;
  {
    std::unique_lock<std::mutex> lk(FMutex);
    if (!FCv.wait_for(lk, timeout, [this] { return !FCalls.empty(); })) return false;
    call = std::move(FCalls.front());
    FCalls.pop_front();
  }
  call();  // outside the lock: a call may post again
  return true;
}

bool QueueDispatcher::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return done();
    RunOne(left);
  }
  return true;
}

}  // namespace qv

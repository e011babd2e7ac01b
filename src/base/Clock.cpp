#include "base/Clock.h"

#include <mutex>

namespace qv {
namespace {

class TSystemClock : public IClock {
 public:
  uint32_t GetTickCount() override {
    static const auto start = std::chrono::steady_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    return static_cast<uint32_t>(ms.count());
  }
  std::chrono::system_clock::time_point Now() override { return std::chrono::system_clock::now(); }
};

// Readings are taken under the lock, so that a test clock can be swapped while another
// thread writes a log line.
std::mutex& ClockMutex() {
  static std::mutex m;
  return m;
}

TSystemClock& SystemClock() {
  static TSystemClock clock;
  return clock;
}

IClock*& Installed() {
  static IClock* clock = nullptr;
  return clock;
}

IClock& Current() {
  return Installed() ? *Installed() : SystemClock();
}

}  // namespace

uint32_t ClockTick() {
  std::lock_guard<std::mutex> lock(ClockMutex());
  return Current().GetTickCount();
}

std::chrono::system_clock::time_point ClockNow() {
  std::lock_guard<std::mutex> lock(ClockMutex());
  return Current().Now();
}

IClock* SetClock(IClock* clock) {
  std::lock_guard<std::mutex> lock(ClockMutex());
  IClock* previous = Installed();
  Installed() = clock;
  return previous;
}

}  // namespace qv

#pragma once
// The one clock of the program: a steady millisecond tick for the link's waits and
// keep-alives, and the wall-clock time that the log files stamp, the dataset pool measures
// idle time in and the login record carries. Tests install a virtual clock instead.
#include <chrono>
#include <cstdint>

namespace qv {

class IClock {
 public:
  virtual ~IClock() = default;
  // Steady milliseconds, 32 bits, wrapping after 49.7 days: take differences unsigned.
  virtual uint32_t GetTickCount() = 0;
  // The wall-clock time; logs and records show it in the machine's local time.
  virtual std::chrono::system_clock::time_point Now() = 0;
};

// The installed clock's readings; the machine's clocks while none is installed (the tick
// then counts from the first reading).
uint32_t ClockTick();
std::chrono::system_clock::time_point ClockNow();

// Installs clock (nullptr: the machine's clocks again) and returns the one it replaces.
// For tests: the clock must outlive its installation.
IClock* SetClock(IClock* clock);

}  // namespace qv

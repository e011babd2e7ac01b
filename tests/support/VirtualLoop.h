#pragma once
// A virtual clock and message loop for the link code: received chunks, timer ticks and
// scripted actions are events on the clock; Sleep advances the clock, so a 30-second wait
// costs no real time.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "base/Clock.h"
#include "link/LinkInterfaces.h"

namespace qv::test {

// The program's clock while it exists: the link's tick, the log stamps, the pool's idle
// time and the login record's clock all read it. The wall time starts at 2024-05-06
// 08:00:00 local time and moves with the tick. Not for use from other threads.
class TVirtualClock : public IClock {
 public:
  explicit TVirtualClock(uint32_t start = 1000);
  ~TVirtualClock() override;  // puts the clock it replaced back
  TVirtualClock(const TVirtualClock&) = delete;
  TVirtualClock& operator=(const TVirtualClock&) = delete;

  uint32_t GetTickCount() override { return tick_; }
  std::chrono::system_clock::time_point Now() override { return wall_; }
  void Advance(uint32_t ms) {
    tick_ += ms;  // wraps like the real tick
    wall_ += std::chrono::milliseconds(ms);
  }
  void SetWallTime(std::chrono::system_clock::time_point t) { wall_ = t; }

 private:
  uint32_t tick_;
  std::chrono::system_clock::time_point wall_;
  IClock* replaced_;
};

class TVirtualPump : public IPump {
 public:
  using TReceiver = std::function<void(const uint8_t*, uint32_t)>;

  explicit TVirtualPump(TVirtualClock& clock) : clock_(clock) {}

  // Runs every event due by now, in time then posting order; each timer fires at most once
  // per pass. Events posted while the pass runs wait for a later pass. After 100 passes at
  // one tick the clock moves on by 1 ms, as real time would: a loop whose every write is
  // refused never sleeps, and would otherwise never see its next timer tick.
  void ProcessMessages() override;
  // Advances the clock by ms, or only up to the next scheduled event or timer tick when
  // that comes sooner: a real sleep ends when a message arrives.
  void Sleep(uint32_t ms) override;

  // Where received chunks go (the link's OnReceiveData).
  void SetReceiver(TReceiver receiver) { receiver_ = std::move(receiver); }
  // A received chunk, handed to the receiver at the first pass at or after afterMs from now.
  void Deliver(std::vector<uint8_t> bytes, uint32_t afterMs = 0);
  void Post(std::function<void()> fn, uint32_t afterMs = 0);
  // A repeating timer (like the service's 500 ms check timer); returns its id.
  int AddTimer(uint32_t intervalMs, std::function<void()> fn);
  void StopTimer(int id);

  TVirtualClock& Clock() { return clock_; }
  uint64_t Passes() const { return passes_; }

 private:
  struct TEvent {
    uint32_t due;  // absolute tick
    std::function<void()> fn;
  };
  struct TTimer {
    uint32_t interval;
    uint32_t next;
    std::function<void()> fn;
  };
  bool Due(uint32_t tick) const { return static_cast<int32_t>(clock_.GetTickCount() - tick) >= 0; }

  TVirtualClock& clock_;
  TReceiver receiver_;
  std::map<uint64_t, TEvent> events_;  // by posting sequence
  uint64_t seq_ = 0;
  std::map<int, TTimer> timers_;
  int nextTimer_ = 1;
  uint64_t passes_ = 0;
  uint32_t lastTick_ = 0;
  uint32_t passesAtTick_ = 0;
};

}  // namespace qv::test

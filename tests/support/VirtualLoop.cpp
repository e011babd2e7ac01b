#include "VirtualLoop.h"

#include <algorithm>
#include <ctime>

namespace qv::test {
namespace {

std::chrono::system_clock::time_point StartWall() {
  std::tm tm{};
  tm.tm_year = 2024 - 1900;
  tm.tm_mon = 4;
  tm.tm_mday = 6;
  tm.tm_hour = 8;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

}  // namespace

TVirtualClock::TVirtualClock(uint32_t start) : tick_(start), wall_(StartWall()), replaced_(SetClock(this)) {}

TVirtualClock::~TVirtualClock() {
  SetClock(replaced_);
}

void TVirtualPump::Deliver(std::vector<uint8_t> bytes, uint32_t afterMs) {
  Post(
      [this, b = std::move(bytes)] {
        if (receiver_) receiver_(b.data(), static_cast<uint32_t>(b.size()));
      },
      afterMs);
}

void TVirtualPump::Post(std::function<void()> fn, uint32_t afterMs) {
  events_.emplace(seq_++, TEvent{clock_.GetTickCount() + afterMs, std::move(fn)});
}

int TVirtualPump::AddTimer(uint32_t intervalMs, std::function<void()> fn) {
  const int id = nextTimer_++;
  timers_.emplace(id, TTimer{intervalMs, clock_.GetTickCount() + intervalMs, std::move(fn)});
  return id;
}

void TVirtualPump::StopTimer(int id) {
  timers_.erase(id);
}

void TVirtualPump::Sleep(uint32_t ms) {
  const uint32_t now = clock_.GetTickCount();
  uint32_t step = ms;
  auto until = [&](uint32_t due) {
    // Already due (a negative distance): no time passes before it runs.
    const int32_t d = static_cast<int32_t>(due - now);
    step = std::min(step, d > 0 ? static_cast<uint32_t>(d) : 0u);
  };
  for (const auto& [seq, e] : events_) until(e.due);
  for (const auto& [id, t] : timers_) until(t.next);
  clock_.Advance(step);
}

void TVirtualPump::ProcessMessages() {
  ++passes_;
  if (clock_.GetTickCount() != lastTick_) {
    lastTick_ = clock_.GetTickCount();
    passesAtTick_ = 0;
  } else if (++passesAtTick_ >= 100) {
    clock_.Advance(1);
    lastTick_ = clock_.GetTickCount();
    passesAtTick_ = 0;
  }
  const uint64_t lastSeq = seq_;
  std::vector<int> fired;
  for (;;) {
    // The earliest due event posted before this pass, else the earliest due timer.
    auto best = events_.end();
    for (auto it = events_.begin(); it != events_.end() && it->first < lastSeq; ++it)
      if (Due(it->second.due) &&
          (best == events_.end() || static_cast<int32_t>(it->second.due - best->second.due) < 0))
        best = it;
    int timerId = 0;
    for (auto& [id, t] : timers_)
      if (Due(t.next) && std::find(fired.begin(), fired.end(), id) == fired.end() &&
          (timerId == 0 || static_cast<int32_t>(t.next - timers_.at(timerId).next) < 0))
        timerId = id;
    if (best != events_.end() &&
        (timerId == 0 || static_cast<int32_t>(best->second.due - timers_.at(timerId).next) <= 0)) {
      std::function<void()> fn = std::move(best->second.fn);
      events_.erase(best);
      fn();
      continue;
    }
    if (timerId == 0) break;
    fired.push_back(timerId);
    TTimer& t = timers_.at(timerId);
    t.next = clock_.GetTickCount() + t.interval;
    std::function<void()> fn = t.fn;  // the timer may be stopped from inside
    fn();
  }
}

}  // namespace qv::test

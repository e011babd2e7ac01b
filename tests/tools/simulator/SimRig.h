#pragma once
// The simulator's engine on a hand-driven clock: frames in, answers out, no pty.
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "SimConfig.h"
#include "SimEngine.h"
#include "link/Frames.h"

namespace qv::sim::test {

using TBytes = std::vector<uint8_t>;

struct TOut {
  uint64_t at;
  TBytes frame;
};

inline TSimConfig ConfigFrom(const std::string& script) {
  TSimConfig cfg;
  cfg.delayMs = 0;
  std::istringstream in(script);
  ParseScript(in, "test", cfg);
  return cfg;
}

struct TEngineRig {
  explicit TEngineRig(const std::string& script) : TEngineRig(ConfigFrom(script)) {}
  explicit TEngineRig(TSimConfig cfg) : engine(std::move(cfg)) {
    engine.SetWriter([this](const uint8_t* d, size_t n) { out.push_back({now, TBytes(d, d + n)}); });
    engine.SetLogger([this](const std::string& l) { log += l + "\n"; }, false);
  }

  // Feeds bytes from the PC and runs the clock over every answer due within ms; returns
  // the answers written meanwhile.
  std::vector<TOut> Send(const TBytes& bytes, uint32_t within = 5000) {
    out.clear();
    engine.Feed(bytes.data(), bytes.size(), now);
    const uint64_t end = now + within;
    while (engine.NextDue() >= 0 && static_cast<uint64_t>(engine.NextDue()) <= end) {
      now = static_cast<uint64_t>(engine.NextDue());
      engine.RunDue(now);
    }
    now = end;
    return out;
  }

  TSimEngine engine;
  uint64_t now = 1000;
  std::vector<TOut> out;
  std::string log;
};

// Frames as the PC sends them; with password 0 the open forms look like the others.
inline TBytes Pc(uint32_t to, uint16_t word, uint8_t no = 0, const TBytes& payload = {}) {
  return BuildTermFrame(0, to, word, no, payload.data(), payload.size());
}

inline uint16_t Word(const TOut& o) {
  return FrameWord(o.frame.data());
}
inline uint32_t From(const TOut& o) {
  return FrameFieldA(o.frame.data());
}
inline TBytes Payload(const TOut& o) {
  return TBytes(o.frame.begin() + 14, o.frame.end() - 2);
}

}  // namespace qv::sim::test

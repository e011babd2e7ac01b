#pragma once
// The simulated radio base station and its handheld terminals. Bytes from the PC go in
// through Feed; answers come out through the writer when RunDue reaches their time. No
// threads and no clock of its own: the caller passes milliseconds of a steady clock.
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "SimConfig.h"
#include "link/Reassembly.h"

namespace qv::sim {

struct TSimStats {
  uint64_t framesIn = 0;        // whole frames from the PC
  uint64_t framesOut = 0;       // frames written to the PC
  uint64_t badIn = 0;           // frames from the PC with a bad CRC or sum
  uint64_t requestsOk = 0;      // requests that ran to their end
  uint64_t requestsFailed = 0;  // attempts that ended in "ER" or were abandoned
  uint64_t downloadFrames = 0;  // download data frames taken by some terminal
};

class TSimEngine {
 public:
  using TWriter = std::function<void(const uint8_t*, size_t)>;
  using TLogger = std::function<void(const std::string&)>;
  // Every frame seen (fromPc true) and written (false), as whole frames.
  using TFrameObserver = std::function<void(bool fromPc, const std::vector<uint8_t>&)>;

  explicit TSimEngine(TSimConfig cfg);

  void SetWriter(TWriter w) { writer_ = std::move(w); }
  // Event lines always; frame lines (hex and meaning) when frames is true.
  void SetLogger(TLogger l, bool frames) {
    logger_ = std::move(l);
    logFrames_ = frames;
  }
  void SetFrameObserver(TFrameObserver o) { observer_ = std::move(o); }
  // The terminals' clock (seconds after 1980-01-01, for "now" times); the local clock
  // unless set. For tests.
  void SetTerminalClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

  void Feed(const uint8_t* data, size_t n, uint64_t nowMs);
  // Writes every answer due by nowMs.
  void RunDue(uint64_t nowMs);
  // Time of the next answer, or -1 when none waits.
  int64_t NextDue() const { return out_.empty() ? -1 : static_cast<int64_t>(out_.begin()->first.first); }
  // Every terminal has run its scripts the configured number of times (never with loop).
  bool Finished() const;

  const TSimStats& Stats() const { return stats_; }
  uint8_t Channel() const { return channel_; }
  const TSimConfig& Config() const { return cfg_; }

  // Answers queued together are kept this far apart, so that the PC's reader never gets
  // two in one chunk (it keeps only the first).
  static constexpr uint32_t kMinGapMs = 5;
  // A frame left half-received this long is dropped when the next byte comes.
  static constexpr uint32_t kByteTimeoutMs = 100;

 private:
  enum class TPhase { Idle, Answered, Reading, Uploading };
  struct TDownload {
    bool active = false;
    uint16_t code = 0;
    int frames = 0;
    size_t bytes = 0;
    uint8_t lastNo = 0;
    bool gotLast = false;
    bool closed = false;
    bool badSeq = false;
  };
  struct TTerm {
    TSimTerminalCfg cfg;
    size_t next = 0;  // request index
    int round = 0;
    int attempts = 0;
    TPhase phase = TPhase::Idle;
    std::vector<std::vector<uint8_t>> frames;  // the request being sent
    // The frames of a failed attempt: the retry sends them again as they were.
    std::vector<std::vector<uint8_t>> retry;
    size_t sent = 0;
    int answerFrames = 0;
    size_t answerBytes = 0;
    TDownload dl;
  };
  enum class TOccasion { PollAnswer, Request, Reply, Base };

  void FeedByte(uint8_t b, uint64_t now, bool again);
  void Dispatch(const std::vector<uint8_t>& f);
  void OnBaseFrame(const std::vector<uint8_t>& f);
  void OnTermFrame(const std::vector<uint8_t>& f);
  void OnPoll(uint32_t to);
  void OnCall(uint32_t to);
  void OnGrant(TTerm& t);
  void OnPcOk(TTerm& t, uint8_t no, const uint8_t* payload, size_t n);
  void OnPcErr(uint32_t to, const uint8_t* payload, size_t n);
  void OnDownloadFrame(uint32_t to, uint16_t word, uint8_t no, size_t n);
  void OnResultQuery(TTerm& t);
  void OnClose(uint32_t to);

  bool Pending(const TTerm& t) const;
  bool TermFinished(const TTerm& t) const;
  void Abandon(TTerm& t, const std::string& why);
  void Finish(TTerm& t, bool ok, const std::string& text);
  std::vector<std::vector<uint8_t>> BuildRequest(const TTerm& t);
  std::string RequestName(const TTerm& t) const;
  TTerm* Find(uint32_t no);

  bool Hits(TTerm* t, TFaultKind kind);
  TFault* FindHit(TTerm* t, TFaultKind kind);
  // An answer from terminal t (nullptr: the base station) through the faults.
  void Answer(TTerm* t, std::vector<uint8_t> frame, TOccasion occasion);
  void Schedule(uint64_t at, std::vector<uint8_t> frame, const std::string& note);
  std::vector<uint8_t> TermFrame(const TTerm& t, uint16_t word, uint8_t no, const uint8_t* p = nullptr,
                                 size_t n = 0, uint32_t psw = 0, bool ownPsw = true) const;
  uint32_t IntruderNo() const;

  void Event(const std::string& text);
  void LogFrame(bool fromPc, const std::vector<uint8_t>& f, const std::string& note);

  TSimConfig cfg_;
  std::vector<TTerm> terms_;
  TFrameAssembler rec_;
  bool baseMode_ = false;
  uint64_t now_ = 0;
  uint64_t lastByte_ = 0;
  uint8_t channel_;
  uint8_t moduleRate_ = 0;
  uint8_t airRate_ = 0;
  size_t rr_ = 0;  // next ordering terminal to answer an open poll
  std::mt19937 rng_;
  std::map<std::pair<uint64_t, uint64_t>, std::pair<std::vector<uint8_t>, std::string>> out_;
  uint64_t seq_ = 0;
  TSimStats stats_;
  TWriter writer_;
  TLogger logger_;
  bool logFrames_ = true;
  TFrameObserver observer_;
  std::function<int64_t()> clock_;
};

// "HH:MM:SS.mmm" of the wall clock, for log lines.
std::string WallClockText();

}  // namespace qv::sim

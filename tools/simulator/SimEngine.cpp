#include "SimEngine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "base/Text.h"
#include "link/Catalogue.h"
#include "link/BaseStation.h"
#include "link/FrameText.h"
#include "link/Frames.h"
#include "base/ResultCodes.h"

namespace qv::sim {
namespace {

constexpr uint32_t kIntrudeGapMs = 30;  // the intruder's frame and the real answer

const char* BaseName(uint8_t cmd) {
  switch (cmd) {
    case BASE_DETECT:
      return "detect station";
    case BASE_SETMODULERATE:
      return "set radio-module rate";
    case BASE_READMODULERATE:
      return "read radio-module rate";
    case BASE_SETAIRRATE:
      return "set air rate";
    case BASE_READAIRRATE:
      return "read air rate";
    case BASE_SETCHANNEL:
      return "set channel";
    case BASE_READCHANNEL:
      return "read channel";
    case BASE_SETALL:
      return "set all parameters";
    case BASE_READALL:
      return "read all parameters";
    case BASE_INFO:
      return "base information";
    default:
      return "unknown command";
  }
}

std::string Text(const uint8_t* p, size_t n) {
  const uint8_t* z = static_cast<const uint8_t*>(std::memchr(p, 0, n));
  return GbkToUtf8(std::string(reinterpret_cast<const char*>(p), z ? static_cast<size_t>(z - p) : n));
}

// Upload frame numbers: the last is 0; the order header of "RT-MEMU" is 1, so its dish
// frames count from 2 and never come back to 1.
uint8_t UploadNo(size_t index, size_t count, bool memu) {
  if (index + 1 == count) return 0;
  if (memu) return index == 0 ? 1 : static_cast<uint8_t>(2 + (index - 1) % 254);
  return static_cast<uint8_t>(1 + index % 255);
}

bool ValidChannel(uint8_t ch) {
  return ch >= 1 && ch <= 32;
}

}  // namespace

std::string WallClockText() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const int ms = static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  char b[16];
  std::snprintf(b, sizeof b, "%02d:%02d:%02d.%03d", tm.tm_hour, tm.tm_min, tm.tm_sec, ms);
  return b;
}

TSimEngine::TSimEngine(TSimConfig cfg) : cfg_(std::move(cfg)), channel_(cfg_.channel), rng_(cfg_.seed) {
  for (const TSimTerminalCfg& c : cfg_.terminals)
    terms_.push_back(TTerm{c, 0, 0, 0, TPhase::Idle, {}, {}, 0, 0, 0, {}});
}

bool TSimEngine::TermFinished(const TTerm& t) const {
  return t.cfg.requests.empty() || (!cfg_.loop && t.round >= cfg_.count);
}

bool TSimEngine::Pending(const TTerm& t) const {
  return !TermFinished(t);
}

bool TSimEngine::Finished() const {
  if (cfg_.loop) return false;
  return std::all_of(terms_.begin(), terms_.end(), [this](const TTerm& t) { return TermFinished(t); });
}

TSimEngine::TTerm* TSimEngine::Find(uint32_t no) {
  for (TTerm& t : terms_)
    if (t.cfg.no == no) return &t;
  return nullptr;
}

uint32_t TSimEngine::IntruderNo() const {
  if (cfg_.intruder) return cfg_.intruder;
  uint32_t hi = 0;
  for (const TTerm& t : terms_) hi = std::max(hi, t.cfg.no);
  return hi + 1;
}

std::string TSimEngine::RequestName(const TTerm& t) const {
  if (t.next >= t.cfg.requests.size()) return "-";
  const TSimRequest& r = t.cfg.requests[t.next];
  if (!r.strCmd.empty()) return r.strCmd;
  char b[8];
  std::snprintf(b, sizeof b, "0x%04X", r.code);
  return b;
}

void TSimEngine::Event(const std::string& text) {
  if (logger_) logger_(WallClockText() + " " + text);
}

void TSimEngine::LogFrame(bool fromPc, const std::vector<uint8_t>& f, const std::string& note) {
  if (!logger_ || !logFrames_) return;
  std::string meaning = DescribeFrame(f.data(), f.size(), fromPc);
  if (f.size() >= 11 && f[0] == kBaseLead) meaning += std::string(" (") + BaseName(f[6]) + ")";
  if (!note.empty()) meaning += " [" + note + "]";
  logger_(WallClockText() + (fromPc ? " <- PC  " : " -> PC  ") + HexText(f.data(), f.size()) + "  | " +
          meaning);
}

// Input --------------------------------------------------------------------------------

void TSimEngine::Feed(const uint8_t* data, size_t n, uint64_t nowMs) {
  now_ = nowMs;
  if ((rec_.bHeadByte || rec_.bInFrame) && nowMs - lastByte_ > kByteTimeoutMs) {
    Event("partial frame from the PC dropped after a pause");
    rec_.ResetRecBuffer();
  }
  if (n) lastByte_ = nowMs;
  for (size_t i = 0; i < n; ++i) FeedByte(data[i], nowMs, false);
}

void TSimEngine::FeedByte(uint8_t b, uint64_t now, bool again) {
  const bool idle = !rec_.bHeadByte && !rec_.bInFrame;
  if (idle) {
    // No DTR on a pseudo-terminal: the lead byte tells the framing.
    if (b == kTermLead1)
      baseMode_ = false;
    else if (b == kBaseLead)
      baseMode_ = true;
    else
      return;  // noise between frames
  }
  const bool inHeader = rec_.bHeadByte && !rec_.bInFrame;
  const bool whole = baseMode_ ? rec_.BaseDataToRecBuffer(&b, 1) : rec_.DataToRecBuffer(&b, 1);
  if (whole) {
    const std::span<const uint8_t> f = rec_.Frame();
    const std::vector<uint8_t> frame(f.begin(), f.end());
    rec_.ResetRecBuffer();
    Dispatch(frame);
    return;
  }
  // A lead byte of the other framing ended a header: it may start a frame of its own.
  if (inHeader && !again && !rec_.bHeadByte && (b == kTermLead1 || b == kBaseLead)) FeedByte(b, now, true);
}

void TSimEngine::Dispatch(const std::vector<uint8_t>& f) {
  ++stats_.framesIn;
  if (observer_) observer_(true, f);
  const bool base = f[0] == kBaseLead;
  const bool ok = base ? BaseFrameSumOK(f.data(), f.size()) : TermFrameCrcOK(f.data(), f.size());
  LogFrame(true, f, ok ? "" : "ignored");
  if (!ok) {
    ++stats_.badIn;
    return;
  }
  if (base)
    OnBaseFrame(f);
  else
    OnTermFrame(f);
}

// Base station ---------------------------------------------------------------------------

void TSimEngine::OnBaseFrame(const std::vector<uint8_t>& f) {
  const uint8_t cmd = f[6];
  const uint8_t n = f[7];
  const uint8_t* d = f.data() + 8;
  std::vector<uint8_t> data;
  switch (cmd) {
    case BASE_DETECT:
      break;
    case BASE_SETMODULERATE:
      if (n >= 1) moduleRate_ = d[0];
      data = {moduleRate_};
      break;
    case BASE_READMODULERATE:
      data = {moduleRate_};
      break;
    case BASE_SETAIRRATE:
      if (n >= 1) airRate_ = d[0];
      data = {airRate_};
      break;
    case BASE_READAIRRATE:
      data = {airRate_};
      break;
    case BASE_SETCHANNEL:
      // A channel the station does not have is refused; the answer tells the one in force.
      if (n >= 1 && ValidChannel(d[0])) channel_ = d[0];
      if (n >= 1 && !ValidChannel(d[0])) Event("base station: channel " + std::to_string(d[0]) + " refused");
      data = {channel_, 0};
      break;
    case BASE_READCHANNEL:
      data = {channel_, 0};
      break;
    case BASE_SETALL:
      if (n >= 1 && ValidChannel(d[0])) channel_ = d[0];
      if (n >= 2) moduleRate_ = d[1];
      if (n >= 3) airRate_ = d[2];
      data = {channel_, moduleRate_, airRate_};
      break;
    case BASE_READALL:
      data = {channel_, moduleRate_, airRate_};
      break;
    case BASE_INFO: {
      data.assign(kBaseInfoLen, 0);
      const std::string v = Utf8ToGbk(cfg_.version);
      std::memcpy(data.data(), v.data(), std::min(v.size(), kBaseVersionLen));
      PutU32(&data[kBaseVersionLen], static_cast<uint32_t>(cfg_.station));
      break;
    }
    default:
      Event("base station: command " + std::to_string(cmd) + " not answered");
      return;
  }
  Answer(nullptr, BuildBaseFrame(cmd, data.data(), data.size()), TOccasion::Base);
}

// Terminals -------------------------------------------------------------------------------

std::vector<uint8_t> TSimEngine::TermFrame(const TTerm& t, uint16_t word, uint8_t no, const uint8_t* p,
                                           size_t n, uint32_t psw, bool ownPsw) const {
  return BuildTermFrame(t.cfg.no, ownPsw ? t.cfg.psw : psw, word, no, p, n);
}

void TSimEngine::OnTermFrame(const std::vector<uint8_t>& f) {
  const uint16_t word = FrameWord(f.data());
  const uint32_t to = FrameFieldB(f.data());
  const uint8_t no = FrameNo(f.data());
  const uint8_t* payload = f.data() + 14;
  const size_t n = f.size() - 16;
  switch (word) {
    case CMD_POLL:
      OnPoll(to);
      return;
    case CMD_CALL:
      OnCall(to);
      return;
    case CMD_GRANT:
      if (TTerm* t = Find(to)) OnGrant(*t);
      return;
    case CMD_CLOSE:
      OnClose(to);
      return;
    case CMD_RESULTQUERY:
      if (TTerm* t = Find(to)) OnResultQuery(*t);
      return;
    case CMD_OK:
      if (TTerm* t = Find(to)) OnPcOk(*t, no, payload, n);
      return;
    case CMD_ER:
      OnPcErr(to, payload, n);
      return;
    case CMD_WT:
      return;  // the PC is busy; the terminal keeps waiting
    default:
      break;
  }
  const TStru_CmdList* cmd = GetCmdByCode(word);
  if (cmd && cmd->bRetData && cmd->strCmd.rfind("W-", 0) == 0) {
    OnDownloadFrame(to, word, no, n);
    return;
  }
  Event("word " + std::to_string(word) + " from the PC not understood");
}

void TSimEngine::Abandon(TTerm& t, const std::string& why) {
  if (t.phase == TPhase::Idle) return;
  Finish(t, false, why);
}

void TSimEngine::Finish(TTerm& t, bool ok, const std::string& text) {
  const std::string name = RequestName(t);
  t.phase = TPhase::Idle;
  // A terminal resends its unacknowledged request as it was (same header, record numbers
  // and clock): what it built is kept for the retry. Broken off before the grant, the
  // attempt built nothing and the kept frames stay.
  if (!t.frames.empty()) t.retry = std::move(t.frames);
  t.frames.clear();
  std::string line = "terminal " + std::to_string(t.cfg.no) + ": " + name + (ok ? " done" : " failed");
  if (!text.empty()) line += ": " + text;
  if (ok) {
    ++stats_.requestsOk;
    t.attempts = 0;
  } else {
    ++stats_.requestsFailed;
    if (++t.attempts <= cfg_.retries) {
      Event(line + " (will try again)");
      return;
    }
    t.attempts = 0;
  }
  t.retry.clear();
  Event(line);
  if (++t.next >= t.cfg.requests.size()) {
    t.next = 0;
    ++t.round;
    if (TermFinished(t)) Event("terminal " + std::to_string(t.cfg.no) + ": script finished");
  }
}

void TSimEngine::OnPoll(uint32_t to) {
  if (to == 0) {
    // An open poll: the PC is done with whoever it served.
    std::vector<TTerm*> ready;
    for (TTerm& t : terms_) {
      if (t.cfg.mode != TTermMode::Ordering) continue;
      Abandon(t, "exchange broken off by a new poll");
      if (Pending(t)) ready.push_back(&t);
    }
    if (ready.empty()) return;
    TTerm& t = *ready[rr_++ % ready.size()];
    const bool bad = Hits(&t, TFaultKind::BadPsw);
    t.phase = TPhase::Answered;
    Answer(&t, TermFrame(t, CMD_ANSWER, 0, nullptr, 0, t.cfg.psw + 1, !bad), TOccasion::PollAnswer);
    return;
  }
  TTerm* t = Find(to);
  if (!t || t->cfg.mode != TTermMode::Stocktaking) return;
  Abandon(*t, "exchange broken off by a new poll");
  if (!Pending(*t)) return;
  const bool bad = Hits(t, TFaultKind::BadPsw);
  t->phase = TPhase::Answered;
  Answer(t, TermFrame(*t, CMD_ANSWER, 0, nullptr, 0, t->cfg.psw + 1, !bad), TOccasion::PollAnswer);
}

void TSimEngine::OnCall(uint32_t to) {
  if (to == 0) return;  // a broadcast call; nobody answers it
  TTerm* t = Find(to);
  if (!t) return;
  Abandon(*t, "exchange broken off by a call");
  const bool bad = Hits(t, TFaultKind::BadPsw);
  Answer(t, TermFrame(*t, CMD_OK, 0, nullptr, 0, t->cfg.psw + 1, !bad), TOccasion::PollAnswer);
}

std::vector<std::vector<uint8_t>> TSimEngine::BuildRequest(const TTerm& t) {
  const TSimRequest& r = t.cfg.requests[t.next];
  const int64_t now = clock_ ? clock_() : LocalSecondsSince1980();
  std::vector<std::vector<uint8_t>> payloads;
  if (r.hasRaw || r.strCmd.empty()) {
    payloads.push_back(r.hasRaw ? r.raw : std::vector<uint8_t>(r.text.begin(), r.text.end()));
  } else if (r.bRetData) {
    if (const auto l = ReadLayout(r.strCmd)) {
      payloads.push_back(EncodeRecord(*l, r.fields, now));
    } else {
      const std::string g = Utf8ToGbk(r.text);
      payloads.emplace_back(g.begin(), g.end());
    }
  } else {
    const TLayout l = *UploadLayout(r.strCmd);
    std::vector<std::vector<uint8_t>> recs;
    if (r.strCmd == "RT-MEMU") {
      // Count, record numbers and total follow from the dishes unless the script sets them.
      TFieldValues h = r.fields;
      double total = 0;
      for (size_t i = 0; i < r.records.size(); ++i) {
        TFieldValues d = r.records[i];
        auto get = [&](const char* k, double def) {
          for (const auto& [name, v] : d)
            if (SameText(name, k)) return std::stod(v);
          return def;
        };
        total += get("fQty", 0) * get("fPrice", 0);
        bool hasNo = false;
        for (const auto& [name, v] : d) hasNo = hasNo || SameText(name, "iRecNo");
        if (!hasNo) d["iRecNo"] = std::to_string(i + 1);
        recs.push_back(EncodeRecord(l, d, now));
      }
      auto has = [&](const char* k) {
        for (const auto& [name, v] : h)
          if (SameText(name, k)) return true;
        return false;
      };
      if (!has("iRecCount")) h["iRecCount"] = std::to_string(std::min<size_t>(r.records.size(), 255));
      if (!has("fTotalSum")) {
        char b[32];
        std::snprintf(b, sizeof b, "%.2f", total);
        h["fTotalSum"] = b;
      }
      if (!has("dtOpTime")) h["dtOpTime"] = "now";
      payloads.push_back(EncodeRecord(MemuHeaderLayout(), h, now));
    } else if (r.records.empty()) {
      recs.push_back(EncodeRecord(l, r.fields, now));
    } else {
      for (const TFieldValues& d : r.records) {
        TFieldValues m = r.fields;
        for (const auto& [k, v] : d) m[k] = v;
        recs.push_back(EncodeRecord(l, m, now));
      }
    }
    const size_t per = kMaxPayload / l.Size();
    for (size_t i = 0; i < recs.size(); i += per) {
      std::vector<uint8_t> p;
      for (size_t j = i; j < recs.size() && j < i + per; ++j)
        p.insert(p.end(), recs[j].begin(), recs[j].end());
      payloads.push_back(std::move(p));
    }
  }
  std::vector<std::vector<uint8_t>> frames;
  const bool memu = r.strCmd == "RT-MEMU";
  for (size_t i = 0; i < payloads.size(); ++i) {
    std::vector<uint8_t>& p = payloads[i];
    if (p.size() > kMaxPayload) {
      Event("terminal " + std::to_string(t.cfg.no) + ": payload cut to " + std::to_string(kMaxPayload) +
            " bytes");
      p.resize(kMaxPayload);
    }
    const uint8_t no = r.bRetData ? 0 : UploadNo(i, payloads.size(), memu);
    frames.push_back(TermFrame(t, r.code, no, p.data(), p.size()));
  }
  return frames;
}

void TSimEngine::OnGrant(TTerm& t) {
  if (t.phase != TPhase::Answered) return;
  try {
    t.frames = t.retry.empty() ? BuildRequest(t) : t.retry;
  } catch (const std::exception& e) {
    Event("terminal " + std::to_string(t.cfg.no) + ": request cannot be built: " + e.what());
    t.phase = TPhase::Idle;
    t.attempts = cfg_.retries;
    Finish(t, false, "not sent");
    return;
  }
  const TSimRequest& r = t.cfg.requests[t.next];
  t.phase = r.bRetData ? TPhase::Reading : TPhase::Uploading;
  t.sent = 0;
  t.answerFrames = 0;
  t.answerBytes = 0;
  Answer(&t, t.frames[0], TOccasion::Request);
}

void TSimEngine::OnPcOk(TTerm& t, uint8_t no, const uint8_t* payload, size_t n) {
  if (t.phase == TPhase::Reading) {
    if (Hits(&t, TFaultKind::Resend)) {
      Answer(&t, TermFrame(t, CMD_RESEND, 0), TOccasion::Reply);
      return;
    }
    ++t.answerFrames;
    t.answerBytes += n;
    Answer(&t, TermFrame(t, CMD_OK, no), TOccasion::Reply);
    if (no != 0) return;
    std::string text =
        std::to_string(t.answerFrames) + " frame(s), " + std::to_string(t.answerBytes) + " bytes";
    // The login answer carries the user name, the PC's clock and a text.
    if (t.cfg.requests[t.next].strCmd == "RT-LOGIN" && n >= 20)
      text += ", user \"" + Text(payload, 8) + "\", clock " + Text(payload + 8, 12) +
              (n > 20 ? ", \"" + Text(payload + 20, n - 20) + "\"" : "");
    Finish(t, true, text);
    return;
  }
  if (t.phase != TPhase::Uploading) return;  // e.g. the closing "OK" of the stocktaking mode
  const uint8_t expected = FrameNo(t.frames[t.sent].data());
  if (no != expected || Hits(&t, TFaultKind::Resend)) {
    if (no != expected)
      Event("terminal " + std::to_string(t.cfg.no) + ": acknowledgement " + std::to_string(no) +
            " for frame " + std::to_string(expected) + ", asking again");
    Answer(&t, TermFrame(t, CMD_RESEND, 0), TOccasion::Reply);
    return;
  }
  const std::string result = Text(payload, n);
  if (++t.sent < t.frames.size()) {
    Answer(&t, t.frames[t.sent], TOccasion::Reply);
    return;
  }
  Answer(&t, TermFrame(t, CMD_END, 0), TOccasion::Reply);
  Finish(t, true,
         std::to_string(t.frames.size()) + " frame(s)" + (result.empty() ? "" : ", \"" + result + "\""));
}

void TSimEngine::OnPcErr(uint32_t to, const uint8_t* payload, size_t n) {
  const int code = n ? payload[0] : -1;
  const std::string text = "ER " + std::to_string(code) + " (" + iErrToStr(code) + ")" +
                           (n > 1 ? " \"" + Text(payload + 1, n - 1) + "\"" : "");
  TTerm* t = Find(to);
  if (!t) {
    Event("terminal " + std::to_string(to) + " told " + text);
    return;
  }
  t->dl.active = false;
  if (t->phase == TPhase::Idle)
    Event("terminal " + std::to_string(to) + " told " + text);
  else
    Finish(*t, false, text);
}

void TSimEngine::OnDownloadFrame(uint32_t to, uint16_t word, uint8_t no, size_t n) {
  const TStru_CmdList* cmd = GetCmdByCode(word);
  for (TTerm& t : terms_) {
    if (to != 0 && t.cfg.no != to) continue;
    if (to == 0 && t.cfg.mode != TTermMode::Ordering) continue;
    TDownload& d = t.dl;
    const bool sameRun = d.active && !d.closed && d.code == word;
    // After the last frame only a repeat of it (its acknowledgement was lost) continues.
    if (!sameRun || (d.gotLast && no != 0)) d = TDownload{true, word};
    const bool repeat = d.frames > 0 && no == d.lastNo;
    if (!repeat) {
      // 1, 2, ... 255, 1, ... and 0 last; a single frame is 0 at once.
      const uint8_t want = d.frames == 0 ? 1 : static_cast<uint8_t>(d.lastNo == 255 ? 1 : d.lastNo + 1);
      if (no != 0 && no != want) {
        d.badSeq = true;
        Event("terminal " + std::to_string(t.cfg.no) + ": " + cmd->strCmd + " frame " + std::to_string(no) +
              " out of order (expected " + std::to_string(want) + ")");
      }
      ++d.frames;
      d.bytes += n;
      d.lastNo = no;
      if (no == 0) d.gotLast = true;
      ++stats_.downloadFrames;
    }
    if (to == 0) continue;  // broadcast frames are not acknowledged
    if (Hits(&t, TFaultKind::Resend)) {
      Answer(&t, TermFrame(t, CMD_RESEND, 0), TOccasion::Reply);
      continue;
    }
    Answer(&t, TermFrame(t, CMD_OK, no), TOccasion::Reply);
  }
}

void TSimEngine::OnClose(uint32_t to) {
  for (TTerm& t : terms_) {
    if (to != 0 && t.cfg.no != to) continue;
    TDownload& d = t.dl;
    if (!d.active || d.closed) continue;
    d.closed = true;
    const TStru_CmdList* cmd = GetCmdByCode(d.code);
    Event("terminal " + std::to_string(t.cfg.no) + ": download " + (cmd ? cmd->strCmd : "?") + " " +
          (d.gotLast && !d.badSeq ? "complete" : "incomplete") + ", " + std::to_string(d.frames) +
          " frame(s), " + std::to_string(d.bytes) + " bytes");
  }
}

void TSimEngine::OnResultQuery(TTerm& t) {
  const TDownload& d = t.dl;
  if (d.active && d.gotLast && !d.badSeq) {
    Answer(&t, TermFrame(t, CMD_OK, 0), TOccasion::Reply);
    return;
  }
  const uint8_t code = d.badSeq ? RC_TERM_FRAMENO : RC_TERM_NOEND;
  Answer(&t, TermFrame(t, CMD_ER, 0, &code, 1), TOccasion::Reply);
}

// Faults and output -----------------------------------------------------------------------

TFault* TSimEngine::FindHit(TTerm* t, TFaultKind kind) {
  auto check = [&](std::vector<TFault>& list) -> TFault* {
    for (TFault& f : list) {
      if (f.kind != kind) continue;
      ++f.occasions;
      bool hit = false;
      switch (f.when) {
        case TFault::TWhen::Always:
          hit = true;
          break;
        case TFault::TWhen::Once:
          hit = !f.spent;
          break;
        case TFault::TWhen::Every:
          hit = f.occasions % static_cast<uint64_t>(f.every) == 0;
          break;
        case TFault::TWhen::Rate:
          hit = std::uniform_real_distribution<double>(0, 1)(rng_) < f.rate;
          break;
      }
      if (hit) {
        f.spent = true;
        return &f;
      }
    }
    return nullptr;
  };
  if (t) {
    if (TFault* f = check(t->cfg.faults)) return f;
  } else if (TFault* f = check(cfg_.baseFaults)) {
    return f;
  }
  return check(cfg_.faults);
}

bool TSimEngine::Hits(TTerm* t, TFaultKind kind) {
  if (FindHit(t, kind) == nullptr) return false;
  Event(std::string("fault ") + FaultName(kind) + (t ? " at terminal " + std::to_string(t->cfg.no) : ""));
  return true;
}

void TSimEngine::Answer(TTerm* t, std::vector<uint8_t> frame, TOccasion occasion) {
  uint64_t at = now_ + cfg_.delayMs;
  if (TFault* f = FindHit(t, TFaultKind::Slow)) {
    const uint32_t ms = f->ms ? f->ms : cfg_.slowMs;
    Event("fault slow (" + std::to_string(ms) + " ms)" +
          (t ? " at terminal " + std::to_string(t->cfg.no) : ""));
    at += ms;
  }
  if (Hits(t, TFaultKind::Drop)) {
    LogFrame(false, frame, "dropped, not sent");
    return;
  }
  std::string note;
  if (Hits(t, TFaultKind::Crc)) {
    frame[frame.size() - (frame[0] == kBaseLead ? 3 : 1)] ^= 0x5A;
    note = "broken on purpose";
  }
  if (t && occasion != TOccasion::PollAnswer && Hits(t, TFaultKind::Wt)) {
    Schedule(at, TermFrame(*t, CMD_WT, 0), "");
    at += cfg_.wtMs;
  }
  if (t && Hits(t, TFaultKind::Intrude)) {
    const std::vector<uint8_t> other = BuildTermFrame(IntruderNo(), t->cfg.psw, CMD_ANSWER, 0);
    // During an exchange the intruder goes first; a poll answer must stay the first.
    if (occasion == TOccasion::PollAnswer) {
      Schedule(at, std::move(frame), note);
      Schedule(at + kIntrudeGapMs, other, "out of turn");
    } else {
      Schedule(at, other, "out of turn");
      Schedule(at + kIntrudeGapMs, std::move(frame), note);
    }
    return;
  }
  Schedule(at, std::move(frame), note);
}

void TSimEngine::Schedule(uint64_t at, std::vector<uint8_t> frame, const std::string& note) {
  // Only frames still waiting can end up back to back; a lone answer goes out at once.
  if (!out_.empty()) at = std::max(at, out_.rbegin()->first.first + kMinGapMs);
  out_.emplace(std::make_pair(at, seq_++), std::make_pair(std::move(frame), note));
}

void TSimEngine::RunDue(uint64_t nowMs) {
  now_ = nowMs;
  while (!out_.empty() && out_.begin()->first.first <= nowMs) {
    auto node = out_.extract(out_.begin());
    const std::vector<uint8_t>& f = node.mapped().first;
    ++stats_.framesOut;
    LogFrame(false, f, node.mapped().second);
    if (observer_) observer_(false, f);
    if (writer_) writer_(f.data(), f.size());
  }
}

}  // namespace qv::sim

#include "TermScript.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/OpLog.h"
#include "base/Text.h"
#include "bridge/SqlBind.h"

namespace qv::test {

TPayload& TPayload::Text(size_t offset, size_t width, const std::string& utf8) {
  const std::string gbk = Utf8ToGbk(utf8);
  if (b.size() < offset + width) b.resize(offset + width, 0);
  std::memcpy(b.data() + offset, gbk.data(), std::min(width, gbk.size()));
  return *this;
}

TPayload& TPayload::U8(size_t offset, uint8_t v) {
  if (b.size() < offset + 1) b.resize(offset + 1, 0);
  b[offset] = v;
  return *this;
}

TPayload& TPayload::U32(size_t offset, uint32_t v) {
  if (b.size() < offset + 4) b.resize(offset + 4, 0);
  PutU32(b.data() + offset, v);
  return *this;
}

TPayload& TPayload::Single(size_t offset, float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return U32(offset, bits);
}

TPayload& TPayload::Append(const TBytes& more) {
  b.insert(b.end(), more.begin(), more.end());
  return *this;
}

std::string TPcFrame::Text() const {
  const size_t skip = word == CMD_ER ? 1 : 0;
  if (payload.size() <= skip) return "";
  return GbkToUtf8(std::string(payload.begin() + static_cast<long>(skip), payload.end()));
}

TPcFrame ParsePc(const TBytes& f) {
  TPcFrame p{};
  if (f.size() < 16 || f[0] != kTermLead1) return p;
  p.word = FrameWord(f.data());
  p.frNo = FrameNo(f.data());
  p.fieldA = FrameFieldA(f.data());
  p.fieldB = FrameFieldB(f.data());
  p.payload.assign(f.begin() + 14, f.end() - 2);
  return p;
}

TTermSession::TTermSession(int serverType, uint32_t terminal_, uint32_t psw_)
    : terminal(terminal_), psw(psw_) {
  SetServerType(serverType);
  SysSet().BaseCommPsw = static_cast<int>(psw);
  SysSet().WriteCommLog = true;
  if (serverType != 0) terminals.list = {std::to_string(terminal)};
  OpLog().Clear();
  poller.SetExchangeHandler(&handler);
  poller.SetClearLastBillNo([] { ClearLastBillNo(); });
  port.OnWrite([](const TBytes& b) { return b.size() >= 16 && b[0] == kTermLead1; },
               [this](const TBytes& w) { return Next(w); });
}

std::vector<TBytes> TTermSession::Next(const TBytes& written) {
  std::vector<TBytes> reply;
  if (steps_.empty()) {
    service.enabled = false;
    return reply;
  }
  if (steps_.front()(ParsePc(written), reply)) steps_.pop_front();
  return reply;
}

void TTermSession::Expect(uint16_t word, std::function<std::vector<TBytes>(const TPcFrame&)> reply) {
  Push([this, word, reply](const TPcFrame& pc, std::vector<TBytes>& out) {
    if (pc.word != word) {
      char msg[96];
      std::snprintf(msg, sizeof msg, "expected word %04X, the PC wrote %04X (frame %u)", word, pc.word,
                    pc.frNo);
      failures.push_back(msg);
    }
    out = reply(pc);
    return true;
  });
}

void TTermSession::Request(uint16_t code, const TBytes& payload, uint8_t frNo) {
  const uint32_t polled = SysSet().SYS_SERVER_TYPE == 0 ? 0 : terminal;
  Push([this, polled](const TPcFrame& pc, std::vector<TBytes>& out) {
    if (pc.word != CMD_POLL || pc.fieldB != polled) failures.push_back("expected a poll");
    out.push_back(TermToPc(terminal, psw, CMD_ANSWER));
    return true;
  });
  Expect(CMD_GRANT, [this, code, payload, frNo](const TPcFrame&) {
    return std::vector<TBytes>{TermToPc(terminal, psw, code, frNo, payload)};
  });
}

void TTermSession::WrongPassword(uint32_t badPsw) {
  Expect(CMD_POLL, [this, badPsw](const TPcFrame&) {
    return std::vector<TBytes>{TermToPc(terminal, badPsw, CMD_ANSWER)};
  });
  Expect(CMD_ER, [](const TPcFrame&) { return std::vector<TBytes>{}; });
}

void TTermSession::Reply(uint16_t word, uint8_t frNo, const TBytes& payload) {
  Push([this, word, frNo, payload](const TPcFrame&, std::vector<TBytes>& out) {
    out.push_back(TermToPc(terminal, psw, word, frNo, payload));
    return true;
  });
}

void TTermSession::AckAll() {
  Push([this](const TPcFrame& pc, std::vector<TBytes>& out) {
    if (pc.word != CMD_OK) {
      failures.push_back("expected a data frame");
      return true;
    }
    out.push_back(TermToPc(terminal, psw, CMD_OK, pc.frNo));
    return pc.frNo == 0;
  });
}

void TTermSession::Silent() {
  Push([](const TPcFrame&, std::vector<TBytes>&) { return true; });
}

int TTermSession::Cycle() {
  service.enabled = true;
  return poller.DealPDACmd(SysSet().SYS_SERVER_TYPE == 0 ? 0 : static_cast<int>(terminal));
}

namespace {

std::vector<std::string> FileLines(const std::string& path, bool stamped) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string text = GbkToUtf8(ss.str());
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    const size_t mark = line.find(" -- ");
    if (stamped && mark != std::string::npos) line = line.substr(mark + 4);
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

}  // namespace

std::vector<std::string> TTermSession::DayLog() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(home.Dir() + "Log", ec))
    for (std::string& l : FileLines(e.path().string(), true)) out.push_back(std::move(l));
  return out;
}

std::vector<std::string> TTermSession::EPosLines() const {
  return FileLines(home.Dir() + "ePOS.txt", false);
}

void TTermSession::Run() {
  service.enabled = true;
  RunLoop();
}

std::vector<TPcFrame> TTermSession::PcFrames() const {
  std::vector<TPcFrame> out;
  for (const TWritten& w : port.Written())
    if (w.accepted) out.push_back(ParsePc(w.bytes));
  return out;
}

std::vector<TPcFrame> TTermSession::PcFrames(uint16_t word) const {
  std::vector<TPcFrame> out;
  for (const TPcFrame& f : PcFrames())
    if (f.word == word && f.fieldB == terminal) out.push_back(f);
  return out;
}

}  // namespace qv::test

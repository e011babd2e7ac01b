#include "ScriptedPort.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace qv::test {

bool TScriptedPort::WriteCommData(const uint8_t* data, uint32_t count) {
  const size_t index = attempts_++;
  TBytes bytes(data, data + count);
  if (std::find(throwing_.begin(), throwing_.end(), index) != throwing_.end())
    throw std::runtime_error("port write failed");
  const bool ok = !refuseAll_ && refused_.count(index) == 0;
  written_.push_back(TWritten{pump_.Clock().GetTickCount(), bytes, ok});
  if (hook_) hook_(bytes);
  if (!ok) return false;
  for (TRule& r : rules_) {
    if (r.times == 0 || !r.match(bytes)) continue;
    if (r.times > 0) --r.times;
    for (TBytes& chunk : r.reply(bytes)) pump_.Deliver(std::move(chunk), r.delayMs);
    break;
  }
  return true;
}

void TScriptedPort::OnWrite(TMatch match, TReply reply, uint32_t delayMs, int times) {
  rules_.push_back(TRule{std::move(match), std::move(reply), delayMs, times});
}

std::vector<TWritten> TScriptedPort::WrittenWithWord(uint16_t word) const {
  std::vector<TWritten> out;
  for (const TWritten& w : written_)
    if (w.accepted && w.bytes.size() >= 16 && w.bytes[0] == kTermLead1 && FrameWord(w.bytes.data()) == word)
      out.push_back(w);
  return out;
}

TScriptedPort::TMatch WordIs(uint16_t word) {
  return
      [word](const TBytes& b) { return b.size() >= 16 && b[0] == kTermLead1 && FrameWord(b.data()) == word; };
}

TScriptedPort::TMatch WordTo(uint16_t word, uint32_t fieldB) {
  return [word, fieldB](const TBytes& b) {
    return b.size() >= 16 && b[0] == kTermLead1 && FrameWord(b.data()) == word &&
           FrameFieldB(b.data()) == fieldB;
  };
}

TBytes TermToPc(uint32_t iPDANo, uint32_t psw, uint16_t word, uint8_t frNo, const TBytes& payload) {
  return BuildTermFrame(iPDANo, psw, word, frNo, payload.data(), payload.size());
}

TScriptedPort::TReply Answer(TBytes frame) {
  return [frame](const TBytes&) { return std::vector<TBytes>{frame}; };
}

TBytes TermErr(uint32_t iPDANo, uint32_t psw, uint8_t code) {
  return TermToPc(iPDANo, psw, CMD_ER, 0, {code});
}

std::string Hex(const TBytes& bytes) {
  std::string s;
  char b[4];
  for (uint8_t c : bytes) {
    std::snprintf(b, sizeof b, s.empty() ? "%02X" : " %02X", c);
    s += b;
  }
  return s;
}

}  // namespace qv::test

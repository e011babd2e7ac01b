#pragma once
// A fake port that records every written frame with its tick and lets a script answer:
// when a written frame matches a rule, the rule's reply chunks are delivered through the
// virtual pump after the rule's delay.
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "VirtualLoop.h"
#include "link/Frames.h"
#include "link/LinkInterfaces.h"

namespace qv::test {

using TBytes = std::vector<uint8_t>;

struct TWritten {
  uint32_t tick;
  TBytes bytes;
  bool accepted;
};

class TScriptedPort : public ILinkPort {
 public:
  using TMatch = std::function<bool(const TBytes&)>;
  // The chunks to deliver in answer to a written frame (empty: no answer).
  using TReply = std::function<std::vector<TBytes>(const TBytes&)>;

  explicit TScriptedPort(TVirtualPump& pump) : pump_(pump) {}

  bool WriteCommData(const uint8_t* data, uint32_t count) override;
  TLinkDtr DtrControl() const override { return dtr_; }
  void SetDtrControl(TLinkDtr value) override { dtr_ = value; }

  // Answers written frames that match; times < 0 means every time. Rules are tried in the
  // order they were added; the first that matches and has uses left answers.
  void OnWrite(TMatch match, TReply reply, uint32_t delayMs = 5, int times = -1);
  // Refuses the write with this 0-based index (counting every write attempt).
  void RefuseWrite(size_t index) { refused_.insert(index); }
  // Refuses every write from now on (false: back to the listed ones).
  void RefuseAll(bool value) { refuseAll_ = value; }
  // Makes the write with this index throw from inside the port.
  void ThrowOnWrite(size_t index) { throwing_.push_back(index); }
  // Called synchronously inside WriteCommData (to provoke re-entry and the like).
  void SetWriteHook(std::function<void(const TBytes&)> hook) { hook_ = std::move(hook); }

  const std::vector<TWritten>& Written() const { return written_; }
  // Written frames (accepted only) with this command word.
  std::vector<TWritten> WrittenWithWord(uint16_t word) const;
  void ClearWritten() { written_.clear(); }

 private:
  struct TRule {
    TMatch match;
    TReply reply;
    uint32_t delayMs;
    int times;
  };
  TVirtualPump& pump_;
  TLinkDtr dtr_ = TLinkDtr::DtrDisable;
  std::vector<TRule> rules_;
  std::set<size_t> refused_;
  bool refuseAll_ = false;
  std::vector<size_t> throwing_;
  size_t attempts_ = 0;
  std::vector<TWritten> written_;
  std::function<void(const TBytes&)> hook_;
};

// Matchers and frames from the terminal side.
TScriptedPort::TMatch WordIs(uint16_t word);
TScriptedPort::TMatch WordTo(uint16_t word, uint32_t fieldB);
// A frame as a terminal sends it: field A = its number, field B = the password.
TBytes TermToPc(uint32_t iPDANo, uint32_t psw, uint16_t word, uint8_t frNo = 0, const TBytes& payload = {});
// A fixed answer of one chunk.
TScriptedPort::TReply Answer(TBytes frame);
// "ER" from a terminal with a code byte.
TBytes TermErr(uint32_t iPDANo, uint32_t psw, uint8_t code);

std::string Hex(const TBytes& bytes);

}  // namespace qv::test

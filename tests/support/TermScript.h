#pragma once
// A scripted terminal driving the whole polling cycle: the script answers the PC's frames
// one after the other; when it runs out, the next frame the PC writes stops the service,
// so the loop ends after the poll under way.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "LinkRig.h"
#include "bridge/SqlExec.h"
#include "link/Exchange.h"

namespace qv::test {

// Field writers for terminal payloads (text in UTF-8, written as GBK, 0x00-filled).
struct TPayload {
  TBytes b;
  explicit TPayload(size_t size = 0) : b(size, 0) {}
  TPayload& Text(size_t offset, size_t width, const std::string& utf8);
  TPayload& U8(size_t offset, uint8_t v);
  TPayload& U32(size_t offset, uint32_t v);
  TPayload& Single(size_t offset, float v);
  TPayload& Money(size_t offset, int32_t cents) { return U32(offset, static_cast<uint32_t>(cents)); }
  TPayload& Append(const TBytes& more);
  operator const TBytes&() const { return b; }
};

// One written frame of the PC as the terminal sees it.
struct TPcFrame {
  uint16_t word;
  uint8_t frNo;
  uint32_t fieldA, fieldB;
  TBytes payload;
  std::string Text() const;  // payload (after the code byte for "ER") as UTF-8
};
TPcFrame ParsePc(const TBytes& frame);

class TTermSession : public TPollRig {
 public:
  // serverType 0 ordering (open polls), 1 stocktaking (terminal is the list's only entry).
  TTermSession(int serverType, uint32_t terminal, uint32_t psw = 0);

  // A step sees one PC frame, may answer it, and says whether it is done (false: it sees
  // the next frame too).
  using TStep = std::function<bool(const TPcFrame& pc, std::vector<TBytes>& reply)>;
  void Push(TStep step) { steps_.push_back(std::move(step)); }

  // Answers the poll with "request waiting" (password psw) and the grant with the request.
  void Request(uint16_t code, const TBytes& payload, uint8_t frNo = 0);
  // Answers a poll with a wrong password; the PC answers "ER" 1, which is consumed too.
  void WrongPassword(uint32_t badPsw);
  // Answers the next PC frame with this terminal frame (word, number, payload).
  void Reply(uint16_t word, uint8_t frNo = 0, const TBytes& payload = {});
  // Acknowledges every "OK" data frame with its own number until the one numbered 0.
  void AckAll();
  // Takes the next PC frame without an answer.
  void Silent();

  // Runs the polling loop until the script is used up.
  void Run();
  // One poll cycle (DealPDACmd); the exchange's result code.
  int Cycle();
  // The daily communication log's messages (time stamps removed), in order.
  std::vector<std::string> DayLog() const;
  // ePOS.txt's lines.
  std::vector<std::string> EPosLines() const;

  // Every PC frame, and those to this terminal with a word, in order.
  std::vector<TPcFrame> PcFrames() const;
  std::vector<TPcFrame> PcFrames(uint16_t word) const;
  // Steps that met a frame they did not expect.
  std::vector<std::string> failures;

  TSysSetScope scope;
  TTempHome home;
  // The bridge by default; tests of the link alone set rows of their own.
  TExchangeHandler handler{link, cb_Read_Data_SQLPROC, cb_Save_Data_SQLPROC};
  uint32_t terminal;
  uint32_t psw;

 private:
  std::vector<TBytes> Next(const TBytes& written);
  // A step that expects `word` and answers with `reply`.
  void Expect(uint16_t word, std::function<std::vector<TBytes>(const TPcFrame&)> reply);
  std::deque<TStep> steps_;
};

}  // namespace qv::test

#pragma once
// The receive path without I/O: reassembly of received chunks into one frame, driven by the
// framing's descriptor, and the acceptance check of a whole frame, which gives a verdict and
// leaves acting on it (the "ER" answer, the operation-log line) to the link. Standalone: no
// port, no logs beyond the exception lines, so it serves frames arriving in either
// direction.
#include <cstdint>
#include <span>

#include "link/Frames.h"

namespace qv {

// Once a frame is whole, further bytes are dropped until ResetRecBuffer: the owner takes
// the frame, then resets (the link does so at the start of every wait).
class TFrameAssembler {
 public:
  TFrameAssembler() { ResetRecBuffer(); }

  // Adds one received chunk under framing. True when a complete frame now lies in
  // RecBuffer. A half frame of another framing is dropped first.
  bool Feed(const TFraming& framing, const uint8_t* data, uint32_t count);
  // Terminal framing (1B 10, length byte at index 13).
  bool DataToRecBuffer(const uint8_t* data, uint32_t count) { return Feed(kTermFraming, data, count); }
  // Base-station framing (AF AF, data count at index 7).
  bool BaseDataToRecBuffer(const uint8_t* data, uint32_t count) { return Feed(kBaseFraming, data, count); }
  void ResetRecBuffer();

  // The frame is whole: in frame and the last expected byte stored.
  bool Complete() const { return bInFrame && RecLen > 0 && RecIndex == RecLen - 1; }
  std::span<const uint8_t> Frame() const {
    return {RecBuffer, Complete() ? static_cast<size_t>(RecLen) : 0u};
  }

  uint8_t RecBuffer[kRecBufferSize];
  int16_t RecLen;    // expected total length; 0 while unknown
  uint8_t RecIndex;  // index of the last byte stored
  bool bHeadByte;    // first lead byte seen
  bool bInFrame;     // both lead bytes seen
  bool FrameReady;   // set by the owner when a complete frame passed its test

 private:
  bool Scan(const TFraming& framing, const uint8_t* data, uint32_t count);
  const TFraming* last_ = &kTermFraming;  // the framing of the previous chunk
};

// What becomes of a whole received frame.
enum class TRecVerdict {
  Accept,        // the frame is for the exchange under way
  Drop,          // damaged, too short or of no use: dropped silently
  Interference,  // a poll with a good CRC: another base station polls on this channel
  BaseBusy,      // another terminal cut in while one is served: it is told to wait
};

struct TRecCheck {
  TRecVerdict verdict;
  int32_t sender = 0;  // field A of the frame, for BaseBusy
};

// The acceptance check of the len bytes in buf, assembled under framing, while terminal
// curPDANo is served (0: none).
TRecCheck CheckRecDataOK(const TFraming& framing, const uint8_t* buf, int len, int32_t curPDANo);

}  // namespace qv

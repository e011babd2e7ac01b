#pragma once
// Reassembly of received chunks into one frame. Standalone: no port, no logs beyond the
// exception lines, no acceptance test, so it serves frames arriving in either direction.
#include <cstdint>
#include <span>

#include "link/Frames.h"

namespace qv {

// Once a frame is whole, further bytes are dropped until ResetRecBuffer: the owner takes
// the frame, then resets (the link does so at the start of every wait).
class TFrameAssembler {
 public:
  TFrameAssembler() { ResetRecBuffer(); }

  // Terminal framing (1B 10, length byte at index 13). True when a complete frame now lies
  // in RecBuffer.
  bool DataToRecBuffer(const uint8_t* data, uint32_t count);
  // Base-station framing (AF AF, data count at index 7).
  bool BaseDataToRecBuffer(const uint8_t* data, uint32_t count);
  void ResetRecBuffer();

  // The frame is whole: in frame and the last expected byte stored.
  bool Complete() const { return bInFrame && RecLen > 0 && RecIndex == RecLen - 1; }
  std::span<const uint8_t> Frame() const {
    return {RecBuffer, Complete() ? static_cast<size_t>(RecLen) : 0u};
  }

  uint8_t RecBuffer[kRecBufferSize];
  int16_t RecLen;      // expected total length; 0 while unknown
  uint8_t RecIndex;    // index of the last byte stored
  bool bHeadByte;      // first lead byte seen
  bool bInFrame;       // both lead bytes seen
  bool FrameReady;     // set by the owner when a complete frame passed its test

 private:
  bool Feed(const uint8_t* data, uint32_t count, bool base);
  bool lastBase_ = false;  // the framing of the previous chunk
};

}  // namespace qv

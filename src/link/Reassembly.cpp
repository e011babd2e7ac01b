#include "link/Reassembly.h"

#include <cstring>
#include <exception>
#include <string>

#include "base/Logging.h"

namespace qv {

void TFrameAssembler::ResetRecBuffer() {
  std::memset(RecBuffer, 0, sizeof RecBuffer);
  RecLen = 0;
  RecIndex = 0;
  bHeadByte = false;
  bInFrame = false;
  FrameReady = false;
}

bool TFrameAssembler::Feed(const TFraming& framing, const uint8_t* data, uint32_t count) {
  try {
    return Scan(framing, data, count);
  } catch (const std::exception& e) {
    WriteErrLog(std::string(framing.feed) + " Except:" + e.what());
  } catch (...) {
    WriteErrLog(std::string(framing.feed) + " Except:unknown exception");
  }
  return false;
}

bool TFrameAssembler::Scan(const TFraming& f, const uint8_t* data, uint32_t count) {
  // A half frame of the other framing can never complete under this one: start afresh.
  if (&f != last_) {
    last_ = &f;
    if (!Complete()) ResetRecBuffer();
  }
  // A whole frame stays untouched until the next reset: later bytes are dropped instead of
  // being stored past its end (a 256-byte frame would otherwise overrun the buffer).
  if (Complete()) return false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t b = data[i];
    if (bInFrame) {
      // Only a frame left half-done by a mode switch can get here without a usable
      // length; it can never complete, so start over and scan this byte afresh.
      if (RecIndex >= kRecBufferSize - 1 || (RecIndex >= f.lenIndex && RecLen == 0)) {
        ResetRecBuffer();
      } else {
        ++RecIndex;
        RecBuffer[RecIndex] = b;
        if (RecIndex == f.lenIndex) {
          // A total beyond the buffer, or one that ends before the length byte itself,
          // cannot complete.
          const int total = b + f.lenBias;
          if (total > static_cast<int>(kRecBufferSize) || total - 1 < f.lenIndex) {
            // Reset and keep scanning the rest of the chunk: a good frame may follow.
            ResetRecBuffer();
            continue;
          }
          RecLen = static_cast<int16_t>(total);
        }
        if (RecIndex >= f.lenIndex && RecIndex >= RecLen - 1) break;  // rest of chunk dropped
        continue;
      }
    }
    if (!bHeadByte) {
      if (b == f.lead1) {
        RecBuffer[RecIndex] = b;
        bHeadByte = true;
      }
    } else if (b == f.lead2) {
      ++RecIndex;
      RecBuffer[RecIndex] = b;
      bInFrame = true;
    } else if (b == f.lead1) {
      RecBuffer[RecIndex] = b;  // the first lead byte again: the frame may start here
    } else {
      ResetRecBuffer();
    }
  }
  return Complete();
}

TRecCheck CheckRecDataOK(const TFraming& framing, const uint8_t* buf, int len, int32_t curPDANo) {
  // A frame assembled under the other framing may carry any byte where this one keeps its
  // length; the check itself makes sure the length matches before it reads.
  if (len < framing.minLen || len > static_cast<int>(kRecBufferSize)) return {TRecVerdict::Drop};
  if (!FrameCheckOK(framing, buf, static_cast<size_t>(len))) return {TRecVerdict::Drop};
  if (!framing.addressed) return {TRecVerdict::Accept};
  if (FrameWord(buf) == CMD_POLL) return {TRecVerdict::Interference};
  const int32_t sender = static_cast<int32_t>(FrameFieldA(buf));
  if (curPDANo == 0 || curPDANo == sender) return {TRecVerdict::Accept, sender};
  return {TRecVerdict::BaseBusy, sender};
}

}  // namespace qv

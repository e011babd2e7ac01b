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

bool TFrameAssembler::DataToRecBuffer(const uint8_t* data, uint32_t count) {
  try {
    return Feed(data, count, false);
  } catch (const std::exception& e) {
    WriteErrLog(std::string("DataToRecBuffer Except:") + e.what());
  } catch (...) {
    WriteErrLog("DataToRecBuffer Except:unknown exception");
  }
  return false;
}

bool TFrameAssembler::BaseDataToRecBuffer(const uint8_t* data, uint32_t count) {
  try {
    return Feed(data, count, true);
  } catch (const std::exception& e) {
    WriteErrLog(std::string("BaseDataToRecBuffer Except:") + e.what());
  } catch (...) {
    WriteErrLog("BaseDataToRecBuffer Except:unknown exception");
  }
  return false;
}

bool TFrameAssembler::Feed(const uint8_t* data, uint32_t count, bool base) {
  // A half frame of the other framing can never complete under this one: start afresh.
  if (base != lastBase_) {
    lastBase_ = base;
    if (!Complete()) ResetRecBuffer();
  }
  // A whole frame stays untouched until the next reset: later bytes are dropped instead of
  // being stored past its end (a 256-byte frame would otherwise overrun the buffer).
  if (Complete()) return false;
  const uint8_t lead2 = base ? kBaseLead : kTermLead2;
  const int lenIndex = base ? 7 : 13;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t b = data[i];
    if (bInFrame) {
      // Only a frame left half-done by a mode switch can get here without a usable
      // length; it can never complete, so start over and scan this byte afresh.
      if (RecIndex >= kRecBufferSize - 1 || (RecIndex >= lenIndex && RecLen == 0)) {
        ResetRecBuffer();
      } else {
        ++RecIndex;
        RecBuffer[RecIndex] = b;
        if (RecIndex == lenIndex) {
          // Terminal: total = L + 2; only 12..254 can complete inside the buffer.
          // Base station: total = N + 11; N above 245 cannot be held.
          const int total = base ? b + 11 : b + 2;
          if (total > static_cast<int>(kRecBufferSize) || total - 1 < lenIndex) {
            // Reset and keep scanning the rest of the chunk: a good frame may follow.
            ResetRecBuffer();
            continue;
          }
          RecLen = static_cast<int16_t>(total);
        }
        if (RecIndex >= lenIndex && RecIndex >= RecLen - 1) break;  // rest of chunk dropped
        continue;
      }
    }
    if (!base) {
      if (b == kTermLead1) {
        RecBuffer[RecIndex] = b;
        bHeadByte = true;
      } else if (bHeadByte) {
        if (b == lead2) {
          ++RecIndex;
          RecBuffer[RecIndex] = b;
          bInFrame = true;
        } else {
          ResetRecBuffer();
        }
      }
    } else {
      if (!bHeadByte) {
        if (b == kBaseLead) {
          RecBuffer[RecIndex] = b;
          bHeadByte = true;
        }
      } else if (b == lead2) {
        ++RecIndex;
        RecBuffer[RecIndex] = b;
        bInFrame = true;
      } else {
        ResetRecBuffer();
      }
    }
  }
  return Complete();
}

}  // namespace qv

#pragma once
// The two framings on the serial line to the base station, their checksums, and the
// exchange record the request handlers fill.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv {

constexpr size_t kRecBufferSize = 256;  // receive buffer, and so the longest frame
constexpr size_t kMaxPayload = kRecBufferSize - 16;
constexpr size_t kMaxTextBytes = 230;  // text payloads of "OK" and "ER" frames
constexpr size_t kMaxBaseData = kRecBufferSize - 11;

// Terminal frame lead bytes and base-station command frame lead byte.
constexpr uint8_t kTermLead1 = 0x1B;
constexpr uint8_t kTermLead2 = 0x10;
constexpr uint8_t kBaseLead = 0xAF;

// Command words of terminal frames (little-endian on the line).
constexpr uint16_t CMD_POLL = 0x0000;         // PC: any request waiting?
constexpr uint16_t CMD_CALL = 0x0100;         // PC: are you there?
constexpr uint16_t CMD_ANSWER = 0x0100;       // terminal: a request is waiting
constexpr uint16_t CMD_GRANT = 0x0200;        // PC: send the request now
constexpr uint16_t CMD_CLOSE = 0x0300;        // PC: end of download or result query
constexpr uint16_t CMD_END = 0x0300;          // terminal: ends the exchange
constexpr uint16_t CMD_RESULTQUERY = 0x0600;  // PC: result query after a broadcast
constexpr uint16_t CMD_RESEND = 0x0700;       // terminal: send the last frame again
constexpr uint16_t CMD_OK = 0x4B4F;           // "OK"
constexpr uint16_t CMD_ER = 0x5245;           // "ER"
constexpr uint16_t CMD_WT = 0x5457;           // "WT"

// Exchange record of one request.
struct TStru_CHGDATA {
  int32_t iPDANo = 0;
  int32_t iBaseId = 0;
  uint8_t wDataBuf[kRecBufferSize] = {};
  int32_t iDataLen = 0;
  int32_t iRecCount = 0;
  uint8_t iFrNo = 0;
  int32_t iCallStep = 0;
  std::string strResult;
};

// CRC-16/UMTS: polynomial 0x8005, initial 0, no reflection, no final XOR.
uint16_t CalcCRC16(const uint8_t* data, size_t len);
// 16-bit sum of the bytes; callers use the low 8 bits.
uint16_t CalcSum(const uint8_t* data, size_t len);

// A terminal frame: 1B 10, field A, field B, word, frame number, length, payload, CRC.
// Throws std::length_error for a payload above kMaxPayload bytes.
std::vector<uint8_t> BuildTermFrame(uint32_t fieldA, uint32_t fieldB, uint16_t word, uint8_t frNo,
                                    const uint8_t* payload = nullptr, size_t n = 0);
// A base-station command frame: AF AF 00 00 AF 80, command, count, data, sum, 0D 0A.
// Throws std::length_error for more than kMaxBaseData data bytes.
std::vector<uint8_t> BuildBaseFrame(uint8_t cmd, const uint8_t* data = nullptr, size_t n = 0);

// Little-endian readers and field accessors of a terminal frame held in a buffer of at
// least 16 bytes.
inline uint16_t GetU16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint32_t FrameFieldA(const uint8_t* f) {
  return GetU32(f + 2);
}
inline uint32_t FrameFieldB(const uint8_t* f) {
  return GetU32(f + 6);
}
inline uint16_t FrameWord(const uint8_t* f) {
  return GetU16(f + 10);
}
inline uint8_t FrameNo(const uint8_t* f) {
  return f[12];
}

// True when len is 16 to 256 and the CRC of the first len - 2 bytes equals the little-endian
// word in the last two. Used by the acceptance test and by readers of the other direction.
bool TermFrameCrcOK(const uint8_t* buf, size_t len);
// True when len is 11 to 256, the data count at index 7 matches len, and the sum byte equals
// the low 8 bits of the sum of everything before it.
bool BaseFrameSumOK(const uint8_t* buf, size_t len);

enum class TFrameCheck {
  Crc16,  // TermFrameCrcOK
  Sum8,   // BaseFrameSumOK
};

// Everything the receive path needs to know of one framing: how a frame starts, where its
// length byte lies, how the frame's total size follows from that byte, and how the whole
// frame is checked.
struct TFraming {
  uint8_t lead1;  // first lead byte
  uint8_t lead2;  // second lead byte
  int lenIndex;   // index of the length byte
  int lenBias;    // total size = length byte + lenBias
  int minLen;     // shortest frame the check can pass
  TFrameCheck check;
  bool addressed;    // carries a sender (field A) and a command word
  const char* feed;  // names the reassembly of this framing in error-log lines
};

// Terminal frames: the length byte counts everything before the CRC (14 + payload), so the
// frame is that + 2 bytes.
inline constexpr TFraming kTermFraming{kTermLead1, kTermLead2,         13,   2,
                                       16,         TFrameCheck::Crc16, true, "DataToRecBuffer"};
// Base-station command frames: the data count N at index 7, then N data bytes, the sum
// and 0D 0A: N + 11 bytes.
inline constexpr TFraming kBaseFraming{kBaseLead, kBaseLead,         7,     11,
                                       11,        TFrameCheck::Sum8, false, "BaseDataToRecBuffer"};

// The framing's check of a whole frame of len bytes.
bool FrameCheckOK(const TFraming& framing, const uint8_t* buf, size_t len);

// True when the n bytes are one or more whole frames of either framing back to back, each
// beginning with its lead bytes and as long as its length byte says: the serial port may
// then hand the burst over without waiting for the gap after it. Anything else (a frame
// cut short, bytes between frames, a length that cannot be) is false, so the gap decides.
// Reads none of the bytes past n; the checksum is left to the reassembly.
bool EndsOnWholeFrame(const uint8_t* data, size_t n);

}  // namespace qv

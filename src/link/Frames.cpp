#include "link/Frames.h"

#include <array>
#include <cstring>
#include <stdexcept>

namespace qv {
namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable() {
  std::array<uint16_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint16_t crc = static_cast<uint16_t>(i << 8);
    for (int b = 0; b < 8; ++b) crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
    t[i] = crc;
  }
  return t;
}
constexpr auto kCrcTable = MakeCrcTable();

}  // namespace

uint16_t CalcCRC16(const uint8_t* data, size_t len) {
  uint16_t crc = 0;
  for (size_t i = 0; i < len; ++i)
    crc = static_cast<uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
  return crc;
}

uint16_t CalcSum(const uint8_t* data, size_t len) {
  uint16_t sum = 0;
  for (size_t i = 0; i < len; ++i) sum = static_cast<uint16_t>(sum + data[i]);
  return sum;
}

std::vector<uint8_t> BuildTermFrame(uint32_t fieldA, uint32_t fieldB, uint16_t word, uint8_t frNo,
                                    const uint8_t* payload, size_t n) {
  if (n > kMaxPayload) throw std::length_error("terminal frame payload above 240 bytes");
  std::vector<uint8_t> f(n + 16);
  f[0] = kTermLead1;
  f[1] = kTermLead2;
  PutU32(&f[2], fieldA);
  PutU32(&f[6], fieldB);
  PutU16(&f[10], word);
  f[12] = frNo;
  f[13] = static_cast<uint8_t>(14 + n);
  if (n) std::memcpy(&f[14], payload, n);
  PutU16(&f[14 + n], CalcCRC16(f.data(), 14 + n));
  return f;
}

std::vector<uint8_t> BuildBaseFrame(uint8_t cmd, const uint8_t* data, size_t n) {
  if (n > kMaxBaseData) throw std::length_error("base-station frame data above 245 bytes");
  std::vector<uint8_t> f(n + 11);
  const uint8_t head[6] = {kBaseLead, kBaseLead, 0x00, 0x00, kBaseLead, 0x80};
  std::memcpy(f.data(), head, sizeof head);
  f[6] = cmd;
  f[7] = static_cast<uint8_t>(n);
  if (n) std::memcpy(&f[8], data, n);
  f[8 + n] = static_cast<uint8_t>(CalcSum(f.data(), 8 + n));
  f[9 + n] = 0x0D;
  f[10 + n] = 0x0A;
  return f;
}

bool TermFrameCrcOK(const uint8_t* buf, size_t len) {
  if (len < 16 || len > kRecBufferSize) return false;
  return CalcCRC16(buf, len - 2) == GetU16(buf + len - 2);
}

bool BaseFrameSumOK(const uint8_t* buf, size_t len) {
  if (len < 11 || len > kRecBufferSize || buf[7] + 11u != len) return false;
  return buf[len - 3] == static_cast<uint8_t>(CalcSum(buf, len - 3));
}

bool FrameCheckOK(const TFraming& framing, const uint8_t* buf, size_t len) {
  switch (framing.check) {
    case TFrameCheck::Crc16:
      return TermFrameCrcOK(buf, len);
    case TFrameCheck::Sum8:
      return BaseFrameSumOK(buf, len);
  }
  return false;
}

bool EndsOnWholeFrame(const uint8_t* data, size_t n) {
  if (data == nullptr || n == 0) return false;
  size_t pos = 0;
  while (pos < n) {
    const size_t left = n - pos;
    if (left < 2) return false;
    const TFraming* f = nullptr;
    for (const TFraming* c : {&kTermFraming, &kBaseFraming})
      if (data[pos] == c->lead1 && data[pos + 1] == c->lead2) f = c;
    if (!f) return false;
    const size_t lenIndex = static_cast<size_t>(f->lenIndex);
    if (left <= lenIndex) return false;
    const size_t total = static_cast<size_t>(data[pos + lenIndex]) + static_cast<size_t>(f->lenBias);
    // The same bounds as the reassembly's: such a frame never completes there.
    if (total > kRecBufferSize || total < static_cast<size_t>(f->minLen) || total <= lenIndex) return false;
    if (total > left) return false;
    pos += total;
  }
  return true;
}

}  // namespace qv

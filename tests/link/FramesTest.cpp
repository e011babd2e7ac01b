#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <memory>
#include <stdexcept>

#include "ScriptedPort.h"
#include "link/Frames.h"

namespace qv {
namespace {

using test::TBytes;

// The bitwise form the line protocol is defined by; the table form must agree with it.
uint16_t BitwiseCrc(const uint8_t* data, size_t len) {
  uint16_t crc = 0;
  for (size_t i = 0; i < len; ++i)
    for (int bit = 7; bit >= 0; --bit) {
      const bool out = crc & 0x8000;
      crc = static_cast<uint16_t>(crc << 1);
      if (out) crc ^= 0x8005;
      if ((data[i] >> bit) & 1) crc ^= 0x8005;
    }
  return crc;
}

TEST(Crc16, CheckValueAndBitwiseForm) {
  const char* check = "123456789";
  EXPECT_EQ(CalcCRC16(reinterpret_cast<const uint8_t*>(check), 9), 0xFEE8);
  EXPECT_EQ(CalcCRC16(nullptr, 0), 0);
  uint8_t data[256];
  uint32_t x = 12345;
  for (uint8_t& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
  for (size_t len : {1u, 2u, 15u, 100u, 256u}) EXPECT_EQ(CalcCRC16(data, len), BitwiseCrc(data, len)) << len;
}

TEST(CalcSum, SixteenBitSum) {
  const uint8_t d[] = {0xFF, 0xFF, 0x03};
  EXPECT_EQ(CalcSum(d, 3), 0x0201);
}

TEST(TermFrame, LayoutOfPollToTerminalOne) {
  const TBytes f = BuildTermFrame(0, 1, CMD_POLL, 0);
  const TBytes want = {0x1B, 0x10, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x0E, 0x28, 0x73};
  EXPECT_EQ(f, want);
}

TEST(TermFrame, FieldsLittleEndianAndPayloadLimit) {
  const uint8_t p[3] = {7, 8, 9};
  const TBytes f = BuildTermFrame(0x04030201, 0x08070605, CMD_OK, 5, p, 3);
  ASSERT_EQ(f.size(), 19u);
  EXPECT_EQ(TBytes(f.begin() + 2, f.begin() + 14), (TBytes{1, 2, 3, 4, 5, 6, 7, 8, 0x4F, 0x4B, 5, 17}));
  EXPECT_TRUE(TermFrameCrcOK(f.data(), f.size()));

  uint8_t big[241] = {};
  EXPECT_EQ(BuildTermFrame(1, 2, CMD_OK, 0, big, 240).size(), 256u);
  EXPECT_THROW(BuildTermFrame(1, 2, CMD_OK, 0, big, 241), std::length_error);
}

TEST(BaseFrame, SetChannelThreeAndInfoRequest) {
  const uint8_t ch[2] = {3, 0};
  EXPECT_EQ(BuildBaseFrame(5, ch, 2),
            (TBytes{0xAF, 0xAF, 0, 0, 0xAF, 0x80, 0x05, 0x02, 0x03, 0x00, 0x97, 0x0D, 0x0A}));
  const TBytes info = BuildBaseFrame(0xA0);
  ASSERT_EQ(info.size(), 11u);
  EXPECT_EQ(info[8], static_cast<uint8_t>(CalcSum(info.data(), 8)));
  uint8_t big[246] = {};
  EXPECT_EQ(BuildBaseFrame(1, big, 245).size(), 256u);
  EXPECT_THROW(BuildBaseFrame(1, big, 246), std::length_error);
}

// The serial port's early hand-over: true only for bytes that are whole frames back to
// back; a frame cut short, stray bytes or an impossible length leave it to the gap. Each
// case runs on a buffer of exactly its size, so the sanitizers catch a read past the end.
TEST(EndsOnWholeFrame, WholeFramesOnlyAndNeverPastTheBytes) {
  const TBytes term = BuildTermFrame(7, 0, CMD_OK, 1, reinterpret_cast<const uint8_t*>("abc"), 3);
  const TBytes poll = BuildTermFrame(0, 0, CMD_POLL, 0);
  const uint8_t data[2] = {3, 0};
  const TBytes base = BuildBaseFrame(5, data, 2);
  const TBytes maxTerm = BuildTermFrame(7, 0, CMD_OK, 1, TBytes(kMaxPayload, 0x1B).data(), kMaxPayload);
  auto cat = [](std::initializer_list<TBytes> parts) {
    TBytes all;
    for (const TBytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  auto cut = [](TBytes b, size_t drop) {
    b.resize(b.size() - drop);
    return b;
  };
  TBytes longLen = poll;
  longLen[13] = 0xFF;  // 257 bytes: more than any frame
  TBytes shortLen = poll;
  shortLen[13] = 0;  // 2 bytes: shorter than its own header
  const struct {
    const char* name;
    TBytes bytes;
    bool whole;
  } cases[] = {
      {"terminal frame", term, true},
      {"poll", poll, true},
      {"base-station frame", base, true},
      {"longest terminal frame", maxTerm, true},
      {"two frames back to back", cat({poll, term}), true},
      {"base then terminal frame", cat({base, poll}), true},
      {"one byte short", cut(term, 1), false},
      {"second frame cut short", cat({poll, cut(term, 5)}), false},
      {"a byte after the frame", cat({poll, {0x00}}), false},
      {"a stray byte before", cat({{0x55}, poll}), false},
      {"lead bytes only", {kTermLead1, kTermLead2}, false},
      {"one lead byte", {kTermLead1}, false},
      {"up to the length byte", cut(poll, 2), false},
      {"length beyond any frame", longLen, false},
      {"length shorter than the header", shortLen, false},
      {"wrong second lead byte", cat({{kTermLead1, 0x11}, cut(poll, 2)}), false},
      {"empty", {}, false},
  };
  for (const auto& c : cases) {
    const std::unique_ptr<uint8_t[]> exact(new uint8_t[c.bytes.size() + (c.bytes.empty() ? 1 : 0)]);
    if (!c.bytes.empty()) std::memcpy(exact.get(), c.bytes.data(), c.bytes.size());
    EXPECT_EQ(EndsOnWholeFrame(exact.get(), c.bytes.size()), c.whole) << c.name;
  }
  EXPECT_FALSE(EndsOnWholeFrame(nullptr, 16));
}

TEST(TermFrameCrcOK, RejectsDamageAndBadLengths) {
  TBytes f = BuildTermFrame(3, 0, CMD_ANSWER, 0);
  EXPECT_TRUE(TermFrameCrcOK(f.data(), f.size()));
  f[5] ^= 1;
  EXPECT_FALSE(TermFrameCrcOK(f.data(), f.size()));
  EXPECT_FALSE(TermFrameCrcOK(f.data(), 15));
}

}  // namespace
}  // namespace qv

#include <gtest/gtest.h>

#include <cstring>
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

TEST(TermFrameCrcOK, RejectsDamageAndBadLengths) {
  TBytes f = BuildTermFrame(3, 0, CMD_ANSWER, 0);
  EXPECT_TRUE(TermFrameCrcOK(f.data(), f.size()));
  f[5] ^= 1;
  EXPECT_FALSE(TermFrameCrcOK(f.data(), f.size()));
  EXPECT_FALSE(TermFrameCrcOK(f.data(), 15));
}

}  // namespace
}  // namespace qv

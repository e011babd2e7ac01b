#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedPort.h"
#include "link/Reassembly.h"

namespace qv {
namespace {

using test::TBytes;

TBytes Cat(std::initializer_list<TBytes> parts) {
  TBytes out;
  for (const TBytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
TBytes Slice(const TBytes& b, size_t from, size_t to) {
  return TBytes(b.begin() + from, b.begin() + to);
}

const TBytes kReq = BuildTermFrame(7, 0, 0x0204, 0, reinterpret_cast<const uint8_t*>("abcd"), 4);
const TBytes kOther = BuildTermFrame(9, 0, 0x0304, 0);
const TBytes kBase = [] {
  const uint8_t d[2] = {6, 0};
  return BuildBaseFrame(6, d, 2);
}();
TBytes MaxTerm() {
  TBytes p(240, 0x5A);
  return BuildTermFrame(1, 2, CMD_OK, 0, p.data(), p.size());
}
TBytes MaxBase() {
  TBytes p(245, 0xAF);  // data full of lead bytes must not confuse the length
  return BuildBaseFrame(0xA0, p.data(), p.size());
}
// A frame head whose length byte is len, followed by filler.
TBytes HeadWithLength(uint8_t len, size_t filler) {
  TBytes b = {0x1B, 0x10, 1, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x02, 0, len};
  b.insert(b.end(), filler, 0x33);
  return b;
}

struct TCase {
  std::string name;
  bool base;
  std::vector<TBytes> chunks;
  TBytes want;                // the complete frame, or empty when none is expected
  bool lastCompletes = true;  // the last chunk is the one that completes the frame
};

class Reassembly : public ::testing::TestWithParam<TCase> {};

TEST_P(Reassembly, Chunks) {
  const TCase& c = GetParam();
  TFrameAssembler a;
  bool last = false;
  for (const TBytes& chunk : c.chunks)
    last = c.base ? a.BaseDataToRecBuffer(chunk.data(), static_cast<uint32_t>(chunk.size()))
                  : a.DataToRecBuffer(chunk.data(), static_cast<uint32_t>(chunk.size()));
  if (c.want.empty()) {
    EXPECT_FALSE(last);
    EXPECT_FALSE(a.Complete());
    return;
  }
  EXPECT_EQ(last, c.lastCompletes);
  ASSERT_TRUE(a.Complete());
  EXPECT_EQ(TBytes(a.Frame().begin(), a.Frame().end()), c.want);
  // Nothing was stored past the frame's end.
  for (size_t i = c.want.size(); i < kRecBufferSize; ++i) ASSERT_EQ(a.RecBuffer[i], 0) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Reassembly,
    ::testing::Values(
        TCase{"OneChunk", false, {kReq}, kReq},
        TCase{"SplitInThree",
              false,
              {Slice(kReq, 0, 1), Slice(kReq, 1, 14), Slice(kReq, 14, kReq.size())},
              kReq},
        TCase{"AfterNoise", false, {{0x00, 0x10, 0xFF, 0x55}, kReq}, kReq},
        TCase{"RepeatedFirstLead", false, {Cat({{0x1B}, kReq})}, kReq},
        TCase{"LeadThenOtherResets", false, {Cat({{0x1B, 0x05}, Slice(kReq, 1, kReq.size())})}, {}},
        TCase{"LeadThenOtherThenFrame", false, {{0x1B, 0x05}, kReq}, kReq},
        TCase{"TailOfChunkDiscarded", false, {Cat({kReq, kOther})}, kReq},
        TCase{"LaterChunkDropped", false, {kReq, kOther}, kReq, false},
        TCase{"LongestFrame", false, {MaxTerm()}, MaxTerm()},
        // Length byte 255 would make a 257-byte frame: reset, keep scanning the chunk.
        TCase{"OversizedLengthResets", false, {HeadWithLength(0xFF, 300)}, {}},
        TCase{"OversizedThenGoodFrame", false, {Cat({HeadWithLength(0xFF, 3), kReq})}, kReq},
        // A length below 12 ends before the length byte itself; it could never complete.
        TCase{"TooSmallLengthResets", false, {Cat({HeadWithLength(5, 0), kReq})}, kReq},
        // Short but self-consistent frames complete; the acceptance test refuses them.
        TCase{"FifteenByteFrame", false, {HeadWithLength(13, 1)}, HeadWithLength(13, 1)},
        TCase{"TermModeIgnoresBaseFrame", false, {kBase}, {}}, TCase{"BaseOneChunk", true, {kBase}, kBase},
        TCase{"BaseSplit", true, {Slice(kBase, 0, 2), Slice(kBase, 2, kBase.size())}, kBase},
        TCase{"BaseLeadThenOtherResets", true, {Cat({{0xAF, 0x05}, Slice(kBase, 1, kBase.size())})}, {}},
        TCase{"BaseLeadThenOtherThenFrame", true, {{0xAF, 0x05}, kBase}, kBase},
        TCase{"BaseAfterNoise", true, {{0x11, 0x1B, 0x10}, kBase}, kBase},
        TCase{"BaseLongestFrame", true, {MaxBase()}, MaxBase()},
        TCase{"BaseOversizedCountResets",
              true,
              {{0xAF, 0xAF, 0, 0, 0xAF, 0x80, 0xA0, 246}, TBytes(300, 0x11)},
              {}}),
    [](const auto& info) { return info.param.name; });

TEST(ReassemblyState, ModeSwitchMidFrameNeverOverruns) {
  TFrameAssembler a;
  const TBytes head = Slice(kReq, 0, 11);  // in frame, index 10, length not yet seen
  a.DataToRecBuffer(head.data(), static_cast<uint32_t>(head.size()));
  for (int i = 0; i < 600; ++i) {  // one byte per chunk under the base framing
    const uint8_t b = 0x42;
    EXPECT_FALSE(a.BaseDataToRecBuffer(&b, 1));
  }
  EXPECT_TRUE(a.BaseDataToRecBuffer(kBase.data(), static_cast<uint32_t>(kBase.size())));
  EXPECT_EQ(TBytes(a.Frame().begin(), a.Frame().end()), kBase);
}

TEST(ReassemblyState, HalfBaseFrameIsDroppedWhenTerminalFramesFollow) {
  TFrameAssembler a;
  const TBytes head = Slice(kBase, 0, 9);  // its count already read
  EXPECT_FALSE(a.BaseDataToRecBuffer(head.data(), static_cast<uint32_t>(head.size())));
  EXPECT_TRUE(a.DataToRecBuffer(kReq.data(), static_cast<uint32_t>(kReq.size())));
  EXPECT_EQ(TBytes(a.Frame().begin(), a.Frame().end()), kReq);
}

TEST(ReassemblyState, ResetClearsEverything) {
  TFrameAssembler a;
  a.DataToRecBuffer(kReq.data(), static_cast<uint32_t>(kReq.size()));
  a.FrameReady = true;
  a.ResetRecBuffer();
  EXPECT_FALSE(a.Complete());
  EXPECT_FALSE(a.FrameReady);
  EXPECT_EQ(a.RecLen, 0);
  EXPECT_EQ(a.RecIndex, 0);
  EXPECT_FALSE(a.bHeadByte);
  EXPECT_FALSE(a.bInFrame);
  EXPECT_EQ(a.RecBuffer[0], 0);
  EXPECT_TRUE(a.DataToRecBuffer(kOther.data(), static_cast<uint32_t>(kOther.size())));
}

TEST(AcceptanceCheck, Verdicts) {
  TBytes badCrc = kReq;
  badCrc[8] ^= 0x40;
  TBytes badSum = kBase;
  badSum[badSum.size() - 3] ^= 0x01;
  const TBytes fromNine = BuildTermFrame(9, 0, 0x0204, 0);
  const TBytes farSender = BuildTermFrame(0xFFFFFFFF, 0, 0x0204, 0);
  const TBytes poll = BuildTermFrame(3, 0, CMD_POLL, 0);
  const struct {
    const char* name;
    const TFraming& framing;
    TBytes frame;
    int32_t served;
    TRecVerdict verdict;
    int32_t sender;
  } cases[] = {
      {"AnyTerminalWhileNoneIsServed", kTermFraming, kReq, 0, TRecVerdict::Accept, 7},
      {"TheServedTerminal", kTermFraming, kReq, 7, TRecVerdict::Accept, 7},
      {"AnotherTerminal", kTermFraming, fromNine, 7, TRecVerdict::BaseBusy, 9},
      {"SenderAboveInt32", kTermFraming, farSender, 5, TRecVerdict::BaseBusy, -1},
      {"PollWhileNoneIsServed", kTermFraming, poll, 0, TRecVerdict::Interference, 0},
      {"PollBeforeTheSenderTest", kTermFraming, poll, 7, TRecVerdict::Interference, 0},
      {"DamagedCrc", kTermFraming, badCrc, 0, TRecVerdict::Drop, 0},
      {"FifteenBytes", kTermFraming, HeadWithLength(13, 1), 0, TRecVerdict::Drop, 0},
      {"BaseFrameUnderTerminalFraming", kTermFraming, kBase, 0, TRecVerdict::Drop, 0},
      {"BaseFrame", kBaseFraming, kBase, 7, TRecVerdict::Accept, 0},
      {"DamagedSum", kBaseFraming, badSum, 0, TRecVerdict::Drop, 0},
      {"TerminalFrameUnderBaseFraming", kBaseFraming, kReq, 0, TRecVerdict::Drop, 0},
  };
  for (const auto& c : cases) {
    const TRecCheck got =
        CheckRecDataOK(c.framing, c.frame.data(), static_cast<int>(c.frame.size()), c.served);
    EXPECT_EQ(got.verdict, c.verdict) << c.name;
    if (c.verdict == TRecVerdict::BaseBusy) {
      EXPECT_EQ(got.sender, c.sender) << c.name;
    }
  }
}

}  // namespace
}  // namespace qv

#include <gtest/gtest.h>

#include <stdexcept>

#include "LinkRig.h"
#include "base/OpLog.h"
#include "base/ResultCodes.h"
#include "base/Text.h"

namespace qv {
namespace {

using namespace qv::test;

constexpr uint32_t kPsw = 4660;

class Receive : public ::testing::Test {
 protected:
  void SetUp() override {
    SysSet().BaseCommPsw = kPsw;
    OpLog().Clear();
  }
  TTempHome home;
  TSysSetScope settings;
  TLinkRig rig;
};

TEST_F(Receive, AcceptsFrameFromAnyTerminalWhileNoneIsServed) {
  rig.Receive(TermToPc(7, kPsw, 0x0204, 0, {1, 2}));
  EXPECT_TRUE(rig.link.FrameReady());
  EXPECT_EQ(rig.link.RecLen(), 18);
  EXPECT_TRUE(rig.port.Written().empty());
}

TEST_F(Receive, DropsDamagedAndShortFramesSilently) {
  TBytes bad = TermToPc(7, kPsw, 0x0204);
  bad[8] ^= 0x40;
  // Length byte 13: a whole 15-byte frame, too short for a terminal frame.
  const TBytes shortFrame = {0x1B, 0x10, 7, 0, 0, 0, 0, 0, 0, 0, 0x04, 0x02, 0, 13, 0x33};
  for (const TBytes& f : {bad, shortFrame}) {
    rig.Receive(f);
    EXPECT_FALSE(rig.link.FrameReady());
    EXPECT_FALSE(rig.link.Rec.bInFrame) << "assembly starts afresh after a refusal";
  }
  EXPECT_TRUE(rig.port.Written().empty());
  EXPECT_TRUE(OpLog().Rows().empty());
  // The assembly is ready for the next frame.
  rig.Receive(TermToPc(7, kPsw, 0x0204));
  EXPECT_TRUE(rig.link.FrameReady());
}

TEST_F(Receive, PollWordWithGoodCrcIsInterference) {
  rig.Receive(TermToPc(3, kPsw, CMD_POLL));
  EXPECT_FALSE(rig.link.FrameReady());
  ASSERT_EQ(OpLog().Rows().size(), 1u);
  EXPECT_EQ(OpLog().Rows()[0].strPDANo, "ALL");
  EXPECT_EQ(OpLog().Rows()[0].strType, "系统提示");
  EXPECT_EQ(OpLog().Rows()[0].strValue, "系统检测到信号干扰，建议您更换信道!");
  EXPECT_TRUE(rig.port.Written().empty());
}

TEST_F(Receive, SecondTerminalGetsBaseBusyWhileOneIsServed) {
  rig.link.CurPDANo = 7;
  rig.Receive(TermToPc(9, kPsw, 0x0204));
  EXPECT_FALSE(rig.link.FrameReady());
  ASSERT_EQ(rig.port.Written().size(), 1u);
  const uint8_t busy = RC_BASEBUSY;
  EXPECT_EQ(rig.port.Written()[0].bytes, BuildTermFrame(kPsw, 9, CMD_ER, 0, &busy, 1));

  rig.Receive(TermToPc(7, kPsw, 0x0204));
  EXPECT_TRUE(rig.link.FrameReady());
  EXPECT_EQ(rig.port.Written().size(), 1u);
}

TEST_F(Receive, BaseStationFramesWhileDtrRaised) {
  rig.port.SetDtrControl(TLinkDtr::DtrEnable);
  const uint8_t data[2] = {3, 0};
  TBytes answer = BuildBaseFrame(5, data, 2);
  rig.Receive(answer);
  EXPECT_TRUE(rig.link.FrameReady());
  EXPECT_EQ(rig.link.RecBuffer()[8], 3);

  rig.link.ResetRecBuffer();
  answer[10] ^= 1;  // the sum byte
  rig.Receive(answer);
  EXPECT_FALSE(rig.link.FrameReady());
  // Terminal frames mean nothing in this mode.
  rig.Receive(TermToPc(7, kPsw, 0x0204));
  EXPECT_FALSE(rig.link.FrameReady());
}

TEST_F(Receive, BytesAfterAnAcceptedFrameLeaveItReady) {
  const TBytes f = TermToPc(7, kPsw, 0x0204, 0, {5});
  rig.Receive(f);
  rig.Receive(TermToPc(7, kPsw, 0x0304));
  EXPECT_TRUE(rig.link.FrameReady());
  EXPECT_EQ(TBytes(rig.link.RecBuffer(), rig.link.RecBuffer() + rig.link.RecLen()), f);
}

TEST_F(Receive, ReentryIsDroppedAndGuardRestored) {
  rig.link.CurPDANo = 7;
  bool reentered = false;
  // The busy answer to terminal 9 re-enters the handler with a good frame from 7.
  rig.port.SetWriteHook([&](const TBytes&) {
    reentered = true;
    rig.Receive(TermToPc(7, kPsw, 0x0204));
  });
  rig.Receive(TermToPc(9, kPsw, 0x0204));
  EXPECT_TRUE(reentered);
  EXPECT_FALSE(rig.link.FrameReady());
  EXPECT_TRUE(rig.link.bRecFree);
  rig.port.SetWriteHook(nullptr);
  rig.Receive(TermToPc(7, kPsw, 0x0204));
  EXPECT_TRUE(rig.link.FrameReady());
}

class ThrowingDtrPort : public TScriptedPort {
 public:
  using TScriptedPort::TScriptedPort;
  TLinkDtr DtrControl() const override { throw std::runtime_error("no line state"); }
};

TEST_F(Receive, ExceptionIsLoggedAndGuardRestored) {
  ThrowingDtrPort port(rig.pump);
  rig.link.SetPort(&port);
  rig.Receive(TermToPc(7, kPsw, 0x0204));
  EXPECT_TRUE(rig.link.bRecFree);
  EXPECT_FALSE(rig.link.FrameReady());
  EXPECT_NE(home.ErrLogText().find("PDAReceiveData Except:no line state"), std::string::npos);
}

TEST_F(Receive, EmptyChunkChangesNothing) {
  rig.link.OnReceiveData(nullptr, 0);
  EXPECT_TRUE(rig.link.bRecFree);
  EXPECT_FALSE(rig.link.Rec.bHeadByte);
}

}  // namespace
}  // namespace qv

#include <gtest/gtest.h>

#include <functional>

#include "LinkRig.h"
#include "base/ResultCodes.h"
#include "base/Text.h"

namespace qv {
namespace {

using namespace qv::test;

constexpr uint32_t kPsw = 0x01020304;

struct TSendCase {
  const char* name;
  std::function<int(TLink&)> send;
  uint32_t fieldA, fieldB;
  uint16_t word;
  uint8_t frNo;
  TBytes payload;
};

TBytes Gbk(const char* utf8) {
  const std::string g = Utf8ToGbk(utf8);
  return TBytes(g.begin(), g.end());
}

class Senders : public ::testing::TestWithParam<TSendCase> {
 protected:
  TTempHome home;
  TSysSetScope settings;
  TLinkRig rig;
};

TEST_P(Senders, FrameLayout) {
  const TSendCase& c = GetParam();
  SysSet().BaseCommPsw = static_cast<int>(kPsw);
  EXPECT_EQ(c.send(rig.link), RC_OK);
  ASSERT_EQ(rig.port.Written().size(), 1u);
  EXPECT_EQ(rig.port.Written()[0].bytes,
            BuildTermFrame(c.fieldA, c.fieldB, c.word, c.frNo, c.payload.data(), c.payload.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Senders,
    ::testing::Values(
        TSendCase{"PollOpen", [](TLink& l) { return l.SendPoll(0); }, 0, 0, CMD_POLL, 0, {}},
        TSendCase{"Poll", [](TLink& l) { return l.SendPoll(5); }, kPsw, 5, CMD_POLL, 0, {}},
        TSendCase{"CallOpen", [](TLink& l) { return l.SendCall(0); }, 0, 0, CMD_CALL, 0, {}},
        TSendCase{"Call", [](TLink& l) { return l.SendCall(5); }, kPsw, 5, CMD_CALL, 0, {}},
        TSendCase{
            "GrantZeroKeepsPassword", [](TLink& l) { return l.SendGrant(0); }, kPsw, 0, CMD_GRANT, 0, {}},
        TSendCase{"Close", [](TLink& l) { return l.SendClose(3); }, kPsw, 3, CMD_CLOSE, 0, {}},
        TSendCase{
            "ResultQuery", [](TLink& l) { return l.SendResultQuery(3); }, kPsw, 3, CMD_RESULTQUERY, 0, {}},
        TSendCase{"Wait", [](TLink& l) { return l.SendWait(3); }, kPsw, 3, CMD_WT, 0, {}},
        TSendCase{"OkEmpty", [](TLink& l) { return l.SendOK(0, 3, ""); }, kPsw, 3, CMD_OK, 0, {}},
        TSendCase{"OkText", [](TLink& l) { return l.SendOK(7, 3, "成功"); }, kPsw, 3, CMD_OK, 7, Gbk("成功")},
        TSendCase{"ErrNoText",
                  [](TLink& l) { return l.SendErr(RC_BASEBUSY, 9, ""); },
                  kPsw,
                  9,
                  CMD_ER,
                  0,
                  {RC_BASEBUSY}},
        // A code the byte cannot hold goes out as 255, a failure, never as its low byte.
        TSendCase{"ErrCodeBeyondTheByte",
                  [](TLink& l) { return l.SendErr(0x12C, 9, "x"); },
                  kPsw,
                  9,
                  CMD_ER,
                  0,
                  {0xFF, 'x'}}),
    [](const auto& info) { return std::string(info.param.name); });

class TextCut : public ::testing::Test {
 protected:
  TTempHome home;
  TSysSetScope settings;
  TLinkRig rig;
};

TEST_F(TextCut, OkAndErrCarryAtMost230TextBytes) {
  std::string text = "a";
  for (int i = 0; i < 150; ++i) text += "错";  // 301 GBK bytes; byte 230 splits a character
  const std::string gbk = Utf8ToGbk(text);
  ASSERT_EQ(gbk.size(), 301u);
  ASSERT_EQ(rig.link.SendOK(1, 2, text), RC_OK);
  ASSERT_EQ(rig.link.SendErr(RC_SVC_PREPARE, 2, text), RC_OK);
  const TBytes& ok = rig.port.Written()[0].bytes;
  const TBytes& er = rig.port.Written()[1].bytes;
  ASSERT_EQ(ok.size(), 230u + 16);
  EXPECT_EQ(ok[13], 14 + 230);
  EXPECT_EQ(std::string(ok.begin() + 14, ok.end() - 2), gbk.substr(0, 230));
  ASSERT_EQ(er.size(), 231u + 16);
  EXPECT_EQ(er[14], RC_SVC_PREPARE);
  EXPECT_EQ(std::string(er.begin() + 15, er.end() - 2), gbk.substr(0, 230));
  EXPECT_TRUE(TermFrameCrcOK(ok.data(), ok.size()));
  EXPECT_TRUE(TermFrameCrcOK(er.data(), er.size()));
}

TEST_F(TextCut, PollToTerminalOneWithPasswordZero) {
  SysSet().BaseCommPsw = 0;
  ASSERT_EQ(rig.link.SendPoll(1), RC_OK);
  EXPECT_EQ(rig.port.Written()[0].bytes,
            (TBytes{0x1B, 0x10, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0x0E, 0x28, 0x73}));
}

TEST_F(TextCut, BaseCommandGoesOutUncounted) {
  const uint8_t ch[2] = {3, 0};
  rig.port.RefuseWrite(1);
  rig.link.SendBaseCmd(5, 2, ch);
  rig.link.SendBaseCmd(0xA0, 0, nullptr);
  ASSERT_EQ(rig.port.Written().size(), 2u);
  EXPECT_EQ(rig.port.Written()[0].bytes,
            (TBytes{0xAF, 0xAF, 0, 0, 0xAF, 0x80, 0x05, 0x02, 0x03, 0x00, 0x97, 0x0D, 0x0A}));
  EXPECT_EQ(rig.port.Written()[1].bytes.size(), 11u);
  EXPECT_EQ(rig.link.iSendErrCount, 0);
}

TEST_F(TextCut, RefusedAndThrowingWritesCount) {
  rig.port.RefuseWrite(0);
  rig.port.ThrowOnWrite(2);
  EXPECT_EQ(rig.link.SendPoll(1), RC_SENDFAIL);
  EXPECT_EQ(rig.link.SendPoll(1), RC_OK);
  EXPECT_EQ(rig.link.SendPoll(1), RC_SENDFAIL);
  EXPECT_EQ(rig.link.iSendErrCount, 2);
  EXPECT_NE(home.ErrLogText().find("WriteDataToComm except:port write failed"), std::string::npos);
  TLink unconnected;
  EXPECT_EQ(unconnected.SendPoll(1), RC_SENDFAIL);
  EXPECT_EQ(unconnected.iSendErrCount, 1);
}

}  // namespace
}  // namespace qv

// Base-station exchanges on the virtual clock against a scripted station.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "LinkRig.h"
#include "link/BaseStation.h"

namespace qv {
namespace {

using namespace qv::test;

TScriptedPort::TMatch BaseCmdIs(uint8_t cmd) {
  return [cmd](const TBytes& b) {
    return b.size() >= 11 && b[0] == kBaseLead && b[1] == kBaseLead && b[6] == cmd;
  };
}

TBytes BaseAnswer(uint8_t cmd, const TBytes& data) {
  return BuildBaseFrame(cmd, data.data(), data.size());
}

// 144 data bytes: version text, station number, the rest zero.
TBytes InfoData(const std::string& version, uint32_t station) {
  TBytes d(kBaseInfoLen, 0);
  for (size_t i = 0; i < version.size() && i < kBaseVersionLen; ++i) d[i] = static_cast<uint8_t>(version[i]);
  PutU32(&d[kBaseVersionLen], station);
  return d;
}

class BaseStationTest : public ::testing::Test {
 protected:
  TTempHome home;
  TSysSetScope settings;
  TLinkRig rig;
  bool pollIdle = true;
  TBaseStation base{rig.link, true, &pollIdle};
};

struct TCmdCase {
  const char* name;
  std::function<int(TBaseStation&, uint8_t&)> run;
  TBytes sent;
};

class ChannelCommands : public BaseStationTest, public ::testing::WithParamInterface<TCmdCase> {};

TEST_P(ChannelCommands, SendsTheFrameAfterTheSwitchAndReadsTheChannel) {
  const TCmdCase& c = GetParam();
  const uint32_t start = rig.clock.GetTickCount();
  rig.port.OnWrite(BaseCmdIs(c.sent[6]), Answer(BaseAnswer(c.sent[6], {3, 0})), 20);
  uint8_t channel = 0;
  EXPECT_EQ(c.run(base, channel), RC_OK);
  EXPECT_EQ(channel, 3);
  ASSERT_EQ(rig.port.Written().size(), 1u);
  EXPECT_EQ(Hex(rig.port.Written()[0].bytes), Hex(c.sent));
  EXPECT_GE(rig.port.Written()[0].tick - start, static_cast<uint32_t>(kBaseSwitchMs));
  EXPECT_EQ(rig.port.DtrControl(), TLinkDtr::DtrEnable);
  EXPECT_TRUE(pollIdle);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChannelCommands,
    ::testing::Values(TCmdCase{"SetChannel3",
                               [](TBaseStation& b, uint8_t& ch) { return b.SetChannel(3, ch); },
                               {0xAF, 0xAF, 0, 0, 0xAF, 0x80, 0x05, 0x02, 0x03, 0x00, 0x97, 0x0D, 0x0A}},
                      TCmdCase{"ReadChannel",
                               [](TBaseStation& b, uint8_t& ch) { return b.ReadChannel(ch); },
                               {0xAF, 0xAF, 0, 0, 0xAF, 0x80, 0x06, 0x02, 0x00, 0x00, 0x95, 0x0D, 0x0A}},
                      TCmdCase{"ReadAll",
                               [](TBaseStation& b, uint8_t& ch) { return b.ReadAll(ch); },
                               {0xAF, 0xAF, 0, 0, 0xAF, 0x80, 0x15, 0x02, 0x00, 0x00, 0xA4, 0x0D, 0x0A}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BaseStationTest, InfoGivesVersionTextAndStationNumber) {
  rig.port.OnWrite(BaseCmdIs(BASE_INFO), Answer(BaseAnswer(BASE_INFO, InfoData("V1.0", 4711))), 30);
  TBaseInfo info;
  EXPECT_TRUE(base.ReadBaseInfo(info));
  ASSERT_EQ(rig.port.Written().size(), 1u);
  const TBytes& req = rig.port.Written()[0].bytes;
  EXPECT_EQ(Hex(req), "AF AF 00 00 AF 80 A0 00 2D 0D 0A");
  EXPECT_EQ(info.strVersion, "V1.0");
  EXPECT_EQ(info.iStationNo, 4711);
}

TEST_F(BaseStationTest, VersionFillingItsFieldAndNegativeStationNumber) {
  rig.port.OnWrite(BaseCmdIs(BASE_INFO),
                   Answer(BaseAnswer(BASE_INFO, InfoData("ABCDEFGHIJKLMNOPQ", 0xFFFFFFFE))));
  TBaseInfo info;
  ASSERT_EQ(base.ReadInfo(info), RC_OK);
  EXPECT_EQ(info.strVersion, "ABCDEFGHIJKLMNOP");  // 16 bytes, no terminator
  EXPECT_EQ(info.iStationNo, -2);
}

TEST_F(BaseStationTest, TimeOutLeavesEverythingUntouched) {
  TBaseInfo info{"old", 5};
  uint8_t channel = 77;
  const uint32_t start = rig.clock.GetTickCount();
  EXPECT_EQ(base.ReadInfo(info), RC_TIMEOUT);
  EXPECT_EQ(base.ReadChannel(channel), RC_TIMEOUT);
  EXPECT_EQ(info.strVersion, "old");
  EXPECT_EQ(info.iStationNo, 5);
  EXPECT_EQ(channel, 77);
  EXPECT_EQ(base.SetBaseChannel(3), 0);
  EXPECT_EQ(base.ReadBaseChannel(), 0);
  EXPECT_FALSE(base.ReadBaseInfo(info));
  // Five exchanges: each one switch-over delay and one full answer wait.
  EXPECT_GE(rig.clock.GetTickCount() - start, 5u * (kBaseSwitchMs + kBaseReplyMs));
  EXPECT_TRUE(pollIdle);
}

TEST_F(BaseStationTest, LateAnswerIsNotTakenByThisOrTheNextExchange) {
  // The first answer comes 250 ms after the request: past the wait, and (the next
  // exchange's switch-over lasting 100 ms) before the next request goes out.
  rig.port.OnWrite(BaseCmdIs(BASE_READALL), Answer(BaseAnswer(BASE_READALL, {9, 0})), 250, 1);
  rig.port.OnWrite(BaseCmdIs(BASE_READALL), Answer(BaseAnswer(BASE_READALL, {4, 0})), 20, 1);
  EXPECT_EQ(base.ReadBaseChannel(), 0);
  EXPECT_EQ(base.ReadBaseChannel(), 4);
}

struct TBadAnswer {
  const char* name;
  TBytes answer;
  int expected;
};

class BadAnswers : public BaseStationTest, public ::testing::WithParamInterface<TBadAnswer> {};

TEST_P(BadAnswers, AreNotReadAsAChannel) {
  rig.port.OnWrite(BaseCmdIs(BASE_SETCHANNEL), Answer(GetParam().answer));
  uint8_t channel = 77;
  EXPECT_EQ(base.SetChannel(3, channel), GetParam().expected);
  EXPECT_EQ(channel, 77);
}

TBytes WithBadSum() {
  TBytes f = BaseAnswer(BASE_SETCHANNEL, {3, 0});
  f[f.size() - 3] ^= 0x01;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BadAnswers,
    ::testing::Values(TBadAnswer{"BadSumIsNoAnswer", WithBadSum(), RC_TIMEOUT},
                      TBadAnswer{"TerminalFrameIsNoAnswer", BuildTermFrame(0, 0, CMD_OK, 0), RC_TIMEOUT},
                      TBadAnswer{"NoDataByte", BaseAnswer(BASE_SETCHANNEL, {}), RC_BADFORMAT}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BaseStationTest, ShortInfoAnswerIsRefused) {
  rig.port.OnWrite(BaseCmdIs(BASE_INFO), Answer(BaseAnswer(BASE_INFO, {'V', '1', 0, 0})));
  TBaseInfo info{"old", 5};
  EXPECT_EQ(base.ReadInfo(info), RC_BADFORMAT);
  EXPECT_EQ(info.strVersion, "old");
}

TEST_F(BaseStationTest, PollingHeldOffDuringTheExchangeAndAnswerSplitInChunks) {
  bool idleSeen = true;
  rig.port.SetWriteHook([&](const TBytes&) { idleSeen = pollIdle; });
  const TBytes whole = BaseAnswer(BASE_READCHANNEL, {6, 0});
  rig.port.OnWrite(BaseCmdIs(BASE_READCHANNEL), [whole](const TBytes&) {
    return std::vector<TBytes>{TBytes(whole.begin(), whole.begin() + 5),
                               TBytes(whole.begin() + 5, whole.end())};
  });
  uint8_t channel = 0;
  EXPECT_EQ(base.ReadChannel(channel), RC_OK);
  EXPECT_EQ(channel, 6);
  EXPECT_FALSE(idleSeen);
  EXPECT_TRUE(pollIdle);
}

TEST_F(BaseStationTest, ExchangeInsideARunningPollLeavesItHeldOff) {
  rig.port.OnWrite(BaseCmdIs(BASE_READCHANNEL), Answer(BaseAnswer(BASE_READCHANNEL, {6, 0})));
  pollIdle = false;  // an outer polling loop still waits (a restart during its wait)
  uint8_t channel = 0;
  EXPECT_EQ(base.ReadChannel(channel), RC_OK);
  EXPECT_FALSE(pollIdle) << "a second loop would start inside the first";
}

TEST_F(BaseStationTest, PortInConfigurationModeSendsAtOnce) {
  TBaseStation dialog(rig.link, false);
  const uint32_t start = rig.clock.GetTickCount();
  dialog.SetBaseChannel(2);
  ASSERT_EQ(rig.port.Written().size(), 1u);
  EXPECT_EQ(rig.port.Written()[0].tick, start);
}

}  // namespace
}  // namespace qv

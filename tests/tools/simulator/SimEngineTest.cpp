// The simulator's engine driven frame by frame on a hand-driven clock.
#include <gtest/gtest.h>

#include <cstring>

#include "SimRig.h"
#include "base/Text.h"
#include "link/BaseStation.h"

namespace qv::sim::test {
namespace {

constexpr const char* kOrdering = R"(
terminal 12 ordering password 7
request RT-LOGIN cCorpCode=0001 cDevCode=PDA12 cUserCode=001 cUserPsw=1234
request RT-BILL cTableNo=A01 cOpCode=001
)";

TBytes Base(uint8_t cmd, const TBytes& data) {
  return BuildBaseFrame(cmd, data.data(), data.size());
}

std::string Field(const TBytes& p, size_t off, size_t width) {
  std::string s(p.begin() + off, p.begin() + off + width);
  return s.substr(0, s.find('\0'));
}

// Poll, answer, grant: returns the request frame.
TOut Granted(TEngineRig& rig, uint32_t no) {
  const auto a = rig.Send(Pc(0, CMD_POLL));
  EXPECT_EQ(a.size(), 1u);
  const auto r = rig.Send(Pc(no, CMD_GRANT));
  EXPECT_EQ(r.size(), 1u);
  return r.empty() ? TOut{} : r[0];
}

TEST(SimBaseStation, AnswersChannelAndInformation) {
  TEngineRig rig("station 4711\nversion V2.5\nchannel 2\n");
  auto a = rig.Send(Base(BASE_SETCHANNEL, {3, 0}));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].frame, Base(BASE_SETCHANNEL, {3, 0}));
  // A channel the station does not have leaves channel 3 in force.
  a = rig.Send(Base(BASE_SETCHANNEL, {40, 0}));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].frame[8], 3);
  a = rig.Send(Base(BASE_READALL, {0, 0}));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].frame[8], 3);
  a = rig.Send(Base(BASE_INFO, {}));
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(a[0].frame.size(), kBaseInfoLen + 11);
  EXPECT_TRUE(BaseFrameSumOK(a[0].frame.data(), a[0].frame.size()));
  EXPECT_EQ(Field(a[0].frame, 8, kBaseVersionLen), "V2.5");
  EXPECT_EQ(GetU32(&a[0].frame[8 + kBaseVersionLen]), 4711u);
}

TEST(SimBaseStation, BadSumAndUnknownCommandGetNoAnswer) {
  TEngineRig rig("");
  TBytes f = Base(BASE_READCHANNEL, {0, 0});
  f[10] ^= 1;
  EXPECT_TRUE(rig.Send(f).empty());
  EXPECT_TRUE(rig.Send(Base(99, {})).empty());
  EXPECT_EQ(rig.engine.Stats().badIn, 1u);
}

TEST(SimBaseStation, FaultsReachItsAnswers) {
  TEngineRig rig("basefault crc:once\nbasefault drop:every=3\nterminal 12\nrequest RT-BILL\n");
  const TBytes ask = Base(BASE_READCHANNEL, {0, 0});
  auto a = rig.Send(ask);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_FALSE(BaseFrameSumOK(a[0].frame.data(), a[0].frame.size()));
  a = rig.Send(ask);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_TRUE(BaseFrameSumOK(a[0].frame.data(), a[0].frame.size()));
  EXPECT_TRUE(rig.Send(ask).empty());
  // Faults of the base station leave the terminals alone.
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.Send(Pc(0, CMD_POLL)).size(), 1u);
}

TEST(SimFraming, LeadBytesChooseTheFramingAndFramesSurviveNoise) {
  TEngineRig rig(kOrdering);
  // Noise, a stray base lead byte, then a poll; a base command in the same chunk.
  TBytes chunk = {0x00, 0x55, 0xAF};
  const TBytes poll = Pc(0, CMD_POLL), base = Base(BASE_READCHANNEL, {0, 0});
  chunk.insert(chunk.end(), poll.begin(), poll.end());
  chunk.insert(chunk.end(), base.begin(), base.end());
  const auto a = rig.Send(chunk);
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(Word(a[0]), CMD_ANSWER);
  EXPECT_EQ(a[1].frame[0], kBaseLead);
  // Answers queued together go out apart, so the PC's reader sees them one at a time.
  EXPECT_GE(a[1].at - a[0].at, TSimEngine::kMinGapMs);
}

TEST(SimFraming, PartialFrameIsDroppedAfterAPause) {
  TEngineRig rig("");
  const TBytes f = Base(BASE_READCHANNEL, {0, 0});
  EXPECT_TRUE(rig.Send(TBytes(f.begin(), f.begin() + 6), TSimEngine::kByteTimeoutMs + 50).empty());
  const auto a = rig.Send(f);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].frame[6], BASE_READCHANNEL);
}

TEST(SimOrdering, AnswersOpenPollSendsLoginAndAcknowledges) {
  TEngineRig rig(kOrdering);
  auto a = rig.Send(Pc(0, CMD_POLL));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(Word(a[0]), CMD_ANSWER);
  EXPECT_EQ(From(a[0]), 12u);
  EXPECT_EQ(FrameFieldB(a[0].frame.data()), 7u);  // its password
  // Only the granted terminal speaks.
  EXPECT_TRUE(rig.Send(Pc(13, CMD_GRANT)).empty());
  a = rig.Send(Pc(12, CMD_GRANT));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(Word(a[0]), 0x0204);
  const TBytes p = Payload(a[0]);
  ASSERT_EQ(p.size(), 22u);
  EXPECT_EQ(Field(p, 0, 4), "0001");
  EXPECT_EQ(Field(p, 4, 8), "PDA12");
  EXPECT_EQ(Field(p, 12, 4), "001");
  EXPECT_EQ(Field(p, 16, 6), "1234");
  a = rig.Send(Pc(12, CMD_OK, 0, {'Z', 'S', 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(Word(a[0]), CMD_OK);
  EXPECT_EQ(FrameNo(a[0].frame.data()), 0);
  EXPECT_EQ(rig.engine.Stats().requestsOk, 1u);
  // The next poll brings the next request.
  EXPECT_EQ(Word(Granted(rig, 12)), 0x1304);
}

TEST(SimOrdering, ReadAnswerFramesAreAcknowledgedWithTheirNumbers) {
  TEngineRig rig("terminal 12\nrequest RT-BILL cTableNo=A01 cOpCode=001\n");
  Granted(rig, 12);
  for (uint8_t no : {1, 2, 0}) {
    const auto a = rig.Send(Pc(12, CMD_OK, no, TBytes(58, 1)));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(Word(a[0]), CMD_OK);
    EXPECT_EQ(FrameNo(a[0].frame.data()), no);
  }
  EXPECT_EQ(rig.engine.Stats().requestsOk, 1u);
  EXPECT_TRUE(rig.engine.Finished());
}

TEST(SimOrdering, OrderGoesAsHeaderThenDishFramesAndEnds) {
  TEngineRig rig(R"(
terminal 12
request RT-MEMU cTableNo=A01 cOpCode=001 dtOpTime=19800102000001
dish cDishCode=1 fQty=1 fPrice=28
dish cDishCode=2 fQty=2 fPrice=6.5
dish cDishCode=3 fQty=1 fPrice=1
dish cDishCode=4 fQty=1 fPrice=1
dish cDishCode=5 fQty=0.5 fPrice=3
)");
  TOut f = Granted(rig, 12);
  ASSERT_EQ(Word(f), 0x0104);
  EXPECT_EQ(FrameNo(f.frame.data()), 1);
  TBytes h = Payload(f);
  ASSERT_EQ(h.size(), 40u);
  EXPECT_EQ(GetU32(&h[27]), 86401u);  // dtOpTime
  EXPECT_EQ(h[35], 5);                // iRecCount
  EXPECT_EQ(GetU32(&h[36]), 4450u);   // fTotalSum 44.50
  auto a = rig.Send(Pc(12, CMD_OK, 1));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(FrameNo(a[0].frame.data()), 2);
  ASSERT_EQ(Payload(a[0]).size(), 4u * 57);
  EXPECT_EQ(Payload(a[0])[57], 2);  // iRecNo of the second dish
  // An acknowledgement with another number is not taken: the terminal asks again.
  a = rig.Send(Pc(12, CMD_OK, 5));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(Word(a[0]), CMD_RESEND);
  a = rig.Send(Pc(12, CMD_OK, 2));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(FrameNo(a[0].frame.data()), 0);
  ASSERT_EQ(Payload(a[0]).size(), 57u);
  EXPECT_EQ(Payload(a[0])[0], 5);
  a = rig.Send(Pc(12, CMD_OK, 0));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(Word(a[0]), CMD_END);
  EXPECT_EQ(rig.engine.Stats().requestsOk, 1u);
}

TEST(SimStocktaking, AnswersOnlyPollsToItsNumberAndUploadsInFramesOfFour) {
  TEngineRig rig(R"(
terminal 3 stocktaking
request W-PDSTORE cBillNO=PD1
item cStrCode=A fQty=1 fPrice=12
item cStrCode=B fQty=1 fPrice=1
item cStrCode=C fQty=1 fPrice=1
item cStrCode=D fQty=1 fPrice=1
item cStrCode=E fQty=1 fPrice=1
terminal 12 ordering
)");
  EXPECT_TRUE(rig.Send(Pc(0, CMD_POLL)).empty());
  EXPECT_TRUE(rig.Send(Pc(12, CMD_POLL)).empty());
  ASSERT_EQ(rig.Send(Pc(3, CMD_POLL)).size(), 1u);
  auto a = rig.Send(Pc(3, CMD_GRANT));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(FrameNo(a[0].frame.data()), 1);
  const TBytes p = Payload(a[0]);
  ASSERT_EQ(p.size(), 240u);
  EXPECT_EQ(Field(p, 0, 12), "PD1");  // the request line's fields fill every item
  EXPECT_EQ(Field(p, 60, 12), "PD1");
  EXPECT_EQ(GetU32(&p[56]), 1200u);  // fPrice in hundredths
  a = rig.Send(Pc(3, CMD_OK, 1));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(FrameNo(a[0].frame.data()), 0);
  EXPECT_EQ(Payload(a[0]).size(), 60u);
}

TEST(SimRetries, FailedRequestIsTriedAgainThenSkipped) {
  TEngineRig rig(std::string("retries 1\n") + kOrdering);
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(Word(Granted(rig, 12)), 0x0204);
    rig.Send(BuildTermFrame(0, 12, CMD_ER, 0, TBytes{RC_SVC_NODBCONN}.data(), 1));
  }
  EXPECT_EQ(rig.engine.Stats().requestsFailed, 2u);
  EXPECT_EQ(Word(Granted(rig, 12)), 0x1304);
  // A poll in the middle of an exchange breaks it off; the request comes again.
  EXPECT_EQ(Word(Granted(rig, 12)), 0x1304);
}

// A terminal whose order failed sends that same order again, header, dish numbers and
// clock time as they were, so that the PC can tell a repeat from a new order; the next
// round of the script is a new order with a time of its own.
TEST(SimRetries, FailedOrderIsSentAgainAsItWas) {
  TSimConfig cfg = ConfigFrom(R"(
retries 3
terminal 12
request RT-MEMU cTableNo=A01 cOpCode=001
dish cDishCode=1 fQty=1 fPrice=28
dish cDishCode=2 fQty=2 fPrice=6.5
)");
  cfg.loop = true;
  TEngineRig rig(std::move(cfg));
  int64_t clock = 1000000;
  rig.engine.SetTerminalClock([&clock] { return clock; });
  auto order = [&](bool fail) {
    std::vector<TBytes> frames{Granted(rig, 12).frame};
    const auto dishes = rig.Send(Pc(12, CMD_OK, 1));
    EXPECT_EQ(dishes.size(), 1u);
    if (!dishes.empty()) frames.push_back(dishes[0].frame);
    if (fail)
      rig.Send(BuildTermFrame(0, 12, CMD_ER, 0, TBytes{6}.data(), 1));  // the dish frame failed
    else
      rig.Send(Pc(12, CMD_OK, 0));
    return frames;
  };
  const std::vector<TBytes> first = order(true);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(GetU32(&first[0][14 + 27]), 1000000u);  // dtOpTime of the header
  clock += 60;
  EXPECT_EQ(order(true), first) << "the first retry";
  clock += 60;
  // A poll that breaks an attempt off before the grant (a failed attempt too) does not
  // lose the order either.
  rig.Send(Pc(0, CMD_POLL));
  EXPECT_EQ(order(false), first) << "the second retry";
  EXPECT_EQ(rig.engine.Stats().requestsOk, 1u);
  const std::vector<TBytes> next = order(false);
  ASSERT_EQ(next.size(), 2u);
  EXPECT_EQ(GetU32(&next[0][14 + 27]), 1000120u) << "the next round is a new order";
}

TEST(SimRounds, CountRepeatsTheScriptLoopNeverFinishes) {
  TSimConfig cfg = ConfigFrom("terminal 12\nrequest RT-ALLFREE cOpCode=001\n");
  cfg.count = 2;
  TEngineRig rig(cfg);
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(rig.engine.Finished());
    Granted(rig, 12);
    rig.Send(Pc(12, CMD_OK, 0));
  }
  EXPECT_TRUE(rig.engine.Finished());
  EXPECT_TRUE(rig.Send(Pc(0, CMD_POLL)).empty());

  cfg.loop = true;
  TEngineRig looping(cfg);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Word(Granted(looping, 12)), 0x1404);
    looping.Send(Pc(12, CMD_OK, 0));
  }
  EXPECT_FALSE(looping.engine.Finished());
}

struct TFaultCase {
  const char* name;
  const char* fault;
  // Checks the answers to: open poll, grant, first "OK" frame numbered 1.
  void (*check)(const std::vector<TOut>& poll, const std::vector<TOut>& grant, const std::vector<TOut>& ok,
                uint64_t sentAt);
};

class SimFaults : public ::testing::TestWithParam<TFaultCase> {};

TEST_P(SimFaults, ShowOnTheLine) {
  TEngineRig rig(std::string("wtdelay 300\nterminal 12 password 7\nfault ") + GetParam().fault +
                 "\nrequest RT-BILL cTableNo=A01 cOpCode=001\n");
  const uint64_t t0 = rig.now;
  const auto poll = rig.Send(Pc(0, CMD_POLL));
  const auto grant = rig.Send(Pc(12, CMD_GRANT));
  const auto ok = rig.Send(Pc(12, CMD_OK, 1));
  GetParam().check(poll, grant, ok, t0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimFaults,
    ::testing::Values(TFaultCase{"DropOnce", "drop:once",
                                 [](const auto& poll, const auto& grant, const auto&, uint64_t) {
                                   EXPECT_TRUE(poll.empty());
                                   // Lost on the way: the terminal did answer, so a grant still finds it.
                                   ASSERT_EQ(grant.size(), 1u);
                                   EXPECT_EQ(Word(grant[0]), 0x1304);
                                 }},
                      TFaultCase{"CrcOnce", "crc:once",
                                 [](const auto& poll, const auto& grant, const auto&, uint64_t) {
                                   ASSERT_EQ(poll.size(), 1u);
                                   EXPECT_FALSE(TermFrameCrcOK(poll[0].frame.data(), poll[0].frame.size()));
                                   ASSERT_EQ(grant.size(), 1u);
                                   EXPECT_TRUE(TermFrameCrcOK(grant[0].frame.data(), grant[0].frame.size()));
                                 }},
                      TFaultCase{"WtBeforeTheRequest", "wt:once",
                                 [](const auto& poll, const auto& grant, const auto&, uint64_t) {
                                   ASSERT_EQ(poll.size(), 1u);
                                   EXPECT_EQ(Word(poll[0]), CMD_ANSWER);  // poll answers are never "WT"
                                   ASSERT_EQ(grant.size(), 2u);
                                   EXPECT_EQ(Word(grant[0]), CMD_WT);
                                   EXPECT_EQ(Word(grant[1]), 0x1304);
                                   EXPECT_GE(grant[1].at - grant[0].at, 300u);
                                 }},
                      TFaultCase{"ResendInsteadOfAck", "resend:once",
                                 [](const auto&, const auto& grant, const auto& ok, uint64_t) {
                                   ASSERT_EQ(grant.size(), 1u);
                                   ASSERT_EQ(ok.size(), 1u);
                                   EXPECT_EQ(Word(ok[0]), CMD_RESEND);
                                 }},
                      TFaultCase{"WrongPassword", "badpsw:once",
                                 [](const auto& poll, const auto&, const auto&, uint64_t) {
                                   ASSERT_EQ(poll.size(), 1u);
                                   EXPECT_EQ(FrameFieldB(poll[0].frame.data()), 8u);
                                 }},
                      TFaultCase{"IntruderAfterThePollAnswer", "intrude:once",
                                 [](const auto& poll, const auto&, const auto&, uint64_t) {
                                   ASSERT_EQ(poll.size(), 2u);
                                   EXPECT_EQ(From(poll[0]), 12u);
                                   EXPECT_EQ(From(poll[1]), 13u);
                                   EXPECT_TRUE(TermFrameCrcOK(poll[1].frame.data(), poll[1].frame.size()));
                                 }},
                      TFaultCase{"SlowAnswer", "slow:ms=450,once",
                                 [](const auto& poll, const auto& grant, const auto&, uint64_t sentAt) {
                                   ASSERT_EQ(poll.size(), 1u);
                                   EXPECT_GE(poll[0].at - sentAt, 450u);
                                   ASSERT_EQ(grant.size(), 1u);
                                 }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SimFaults, ResentFrameIsAcknowledgedAfterTheResendRequest) {
  TEngineRig rig("terminal 12\nfault resend:once\nrequest RT-BILL cTableNo=A01 cOpCode=001\n");
  Granted(rig, 12);
  ASSERT_EQ(Word(rig.Send(Pc(12, CMD_OK, 1))[0]), CMD_RESEND);
  const auto a = rig.Send(Pc(12, CMD_OK, 1));
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(Word(a[0]), CMD_OK);
  EXPECT_EQ(FrameNo(a[0].frame.data()), 1);
}

TEST(SimFaults, IntruderGoesFirstInsideAnExchange) {
  TEngineRig rig("terminal 12\nfault intrude:every=2\nrequest RT-BILL cTableNo=A01 cOpCode=001\n");
  rig.Send(Pc(0, CMD_POLL));  // first occasion: no intruder
  const auto a = rig.Send(Pc(12, CMD_GRANT));
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(From(a[0]), 13u);
  EXPECT_EQ(Word(a[1]), 0x1304);
  EXPECT_GT(a[1].at, a[0].at);
}

TEST(SimDownload, UnicastIsAcknowledgedAndReportedComplete) {
  TEngineRig rig("terminal 12\n");
  ASSERT_EQ(Word(rig.Send(Pc(12, CMD_CALL))[0]), CMD_OK);
  for (uint8_t no : {1, 2, 2, 0}) {  // frame 2 twice: its acknowledgement was lost
    const auto a = rig.Send(Pc(12, 0x0301, no, TBytes(164, 0)));
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(Word(a[0]), CMD_OK);
    EXPECT_EQ(FrameNo(a[0].frame.data()), no);
  }
  EXPECT_TRUE(rig.Send(Pc(12, CMD_CLOSE)).empty());
  EXPECT_EQ(rig.engine.Stats().downloadFrames, 3u);
  rig.Send(Pc(12, CMD_CALL));
  const auto q = rig.Send(Pc(12, CMD_RESULTQUERY));
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(Word(q[0]), CMD_OK);
}

struct TBroadcastCase {
  const char* name;
  std::vector<uint8_t> numbers;
  uint16_t word;
  int code;
};

class SimBroadcast : public ::testing::TestWithParam<TBroadcastCase> {};

TEST_P(SimBroadcast, ResultQueryTellsHowItWasReceived) {
  TEngineRig rig("terminal 12\nterminal 15\n");
  EXPECT_TRUE(rig.Send(Pc(0, CMD_CALL)).empty());
  for (uint8_t no : GetParam().numbers) EXPECT_TRUE(rig.Send(Pc(0, 0x0401, no, TBytes(212, 0))).empty());
  rig.Send(Pc(0, CMD_CLOSE));
  for (uint32_t t : {12u, 15u}) {
    const auto q = rig.Send(Pc(t, CMD_RESULTQUERY));
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(From(q[0]), t);
    EXPECT_EQ(Word(q[0]), GetParam().word);
    if (GetParam().code >= 0) {
      EXPECT_EQ(Payload(q[0]), TBytes{static_cast<uint8_t>(GetParam().code)});
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SimBroadcast,
                         ::testing::Values(TBroadcastCase{"Complete", {1, 2, 0}, CMD_OK, -1},
                                           TBroadcastCase{"Single", {0}, CMD_OK, -1},
                                           TBroadcastCase{"GapInNumbers", {1, 3, 0}, CMD_ER, 64},
                                           TBroadcastCase{"NoLastFrame", {1, 2}, CMD_ER, 67}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv::sim::test

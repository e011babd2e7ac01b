#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "LinkRig.h"
#include "base/ResultCodes.h"
#include "base/Text.h"
#include "link/Catalogue.h"

namespace qv {
namespace {

using namespace qv::test;

constexpr uint32_t kPsw = 4660;
constexpr uint16_t kBill = 0x1304;       // RT-BILL, a read request
constexpr uint16_t kOpenTable = 0x0304;  // RT-OPENTABLE, an upload

struct TCall {
  bool read;
  int iPDANo;
  std::string strCmd;
  uint16_t word;  // command word of the frame in RecBuffer at the call
};

class FakeExchange : public IExchangeHandler {
 public:
  explicit FakeExchange(TLink& link) : link_(link) {}
  int Send_Data_ToPDA(int iPDANo, const TStru_CmdList& cmd) override { return Record(true, iPDANo, cmd); }
  int Save_Data_FrmPDA(int iPDANo, const TStru_CmdList& cmd) override { return Record(false, iPDANo, cmd); }

  std::vector<TCall> calls;
  int result = RC_OK;
  std::function<void()> work;  // runs inside the handler (database time, throwing, ...)

 private:
  int Record(bool read, int iPDANo, const TStru_CmdList& cmd) {
    calls.push_back({read, iPDANo, cmd.strCmd, FrameWord(link_.RecBuffer())});
    if (work) work();
    return result;
  }
  TLink& link_;
};

class Poll : public ::testing::Test {
 protected:
  explicit Poll(uint32_t start = 1000) : rig(start), exchange(rig.link) {}
  void SetUp() override {
    SysSet().BaseCommPsw = kPsw;
    SetServerType(0);
    rig.poller.SetExchangeHandler(&exchange);
    rig.poller.SetClearLastBillNo([this] { ++billResets; });
  }
  // Terminal t answers the open poll (or its own poll) with word, and then, on the grant,
  // sends request.
  void TerminalAnswers(uint32_t t, uint32_t psw, uint16_t word = CMD_ANSWER) {
    rig.port.OnWrite(WordIs(CMD_POLL), Answer(TermToPc(t, psw, word)), 20, 1);
  }
  void OnGrantSend(uint32_t t, TBytes frame, uint32_t delay = 50) {
    rig.port.OnWrite(WordTo(CMD_GRANT, t), Answer(std::move(frame)), delay, 1);
  }

  TTempHome home;
  TSysSetScope settings;
  TPollRig rig;
  FakeExchange exchange;
  int billResets = 0;
};

TEST_F(Poll, OpenPollGrantAndReadDispatch) {
  TerminalAnswers(12, kPsw);
  OnGrantSend(12, TermToPc(12, kPsw, kBill, 0, {'0', '1', 0, 0}));
  exchange.result = 42;
  EXPECT_EQ(rig.poller.DealPDACmd(0), 42);
  const auto& w = rig.port.Written();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[0].bytes, BuildTermFrame(0, 0, CMD_POLL, 0));
  EXPECT_EQ(w[1].bytes, BuildTermFrame(kPsw, 12, CMD_GRANT, 0));
  EXPECT_EQ(rig.link.CurPDANo, 12);
  EXPECT_EQ(billResets, 1);
  ASSERT_EQ(exchange.calls.size(), 1u);
  EXPECT_TRUE(exchange.calls[0].read);
  EXPECT_EQ(exchange.calls[0].iPDANo, 12);
  EXPECT_EQ(exchange.calls[0].strCmd, "RT-BILL");
  EXPECT_EQ(exchange.calls[0].word, kBill);
}

TEST_F(Poll, UploadGoesToSaveHandler) {
  TerminalAnswers(12, kPsw);
  OnGrantSend(12, TermToPc(12, kPsw, kOpenTable, 0, TBytes(26, '1')));
  EXPECT_EQ(rig.poller.DealPDACmd(0), RC_OK);
  ASSERT_EQ(exchange.calls.size(), 1u);
  EXPECT_FALSE(exchange.calls[0].read);
  EXPECT_EQ(exchange.calls[0].strCmd, "RT-OPENTABLE");
}

TEST_F(Poll, WrongPasswordGetsErrorOne) {
  TerminalAnswers(12, kPsw + 1);
  EXPECT_EQ(rig.poller.DealPDACmd(0), RC_BADPSW);
  const auto& w = rig.port.Written();
  ASSERT_EQ(w.size(), 2u);
  const std::string text = std::string(1, static_cast<char>(RC_BADPSW)) + Utf8ToGbk("通迅密码错误");
  EXPECT_EQ(w[1].bytes, BuildTermFrame(kPsw, 12, CMD_ER, 0, (const uint8_t*)text.data(), text.size()));
  EXPECT_EQ(rig.link.CurPDANo, 0);
  EXPECT_EQ(billResets, 0);
  EXPECT_TRUE(exchange.calls.empty());
}

TEST_F(Poll, NoAnswerTimesOutAfter300ms) {
  const uint32_t t0 = rig.clock.GetTickCount();
  EXPECT_EQ(rig.poller.AskPDA(0), RC_TIMEOUT);
  EXPECT_EQ(rig.clock.GetTickCount() - t0, 300u);
}

TEST_F(Poll, AnswerOtherThanRequestWaitingIsNotGranted) {
  // 0x0300 instead of 0x0100: no grant, but the full reply time still runs.
  TerminalAnswers(12, kPsw, CMD_END);
  uint32_t answered = 0;
  rig.port.SetWriteHook([&](const TBytes&) { answered = rig.clock.GetTickCount() + 20; });
  EXPECT_EQ(rig.poller.DealPDACmd(0), RC_TIMEOUT);
  EXPECT_EQ(rig.port.WrittenWithWord(CMD_GRANT).size(), 0u);
  EXPECT_GE(rig.clock.GetTickCount() - answered, 6000u);
  EXPECT_LT(rig.clock.GetTickCount() - answered, 6010u);
}

TEST_F(Poll, RequestWithoutGrantIsStillServed) {
  TerminalAnswers(12, kPsw, CMD_END);
  rig.pump.Deliver(TermToPc(12, kPsw, kBill), 3000);
  EXPECT_EQ(rig.poller.DealPDACmd(0), RC_OK);
  ASSERT_EQ(exchange.calls.size(), 1u);
  EXPECT_EQ(exchange.calls[0].iPDANo, 12);
}

TEST_F(Poll, WaitFromTerminalRestartsTheWait) {
  TerminalAnswers(12, kPsw);
  OnGrantSend(12, TermToPc(12, kPsw, CMD_WT), 5000);
  // 10 s after the grant: beyond the first 6 s wait, within the one the WT restarted.
  rig.port.SetWriteHook([&](const TBytes& b) {
    if (FrameWord(b.data()) == CMD_GRANT) rig.pump.Deliver(TermToPc(12, kPsw, kBill), 10000);
  });
  EXPECT_EQ(rig.poller.DealPDACmd(0), RC_OK);
  EXPECT_EQ(exchange.calls.size(), 1u);
}

// A terminal that answers its grant with "WT" every second, without end, gets the budget
// the exchanges give a repeated frame: "WT" is honoured for one reply time after the grant,
// then the cycle ends in 17 and the loop can serve the others.
TEST_F(Poll, EndlessWaitFromTerminalEndsIn17) {
  TerminalAnswers(12, kPsw);
  uint32_t granted = 0;
  int sent = 0;
  int timer = 0;
  rig.port.SetWriteHook([&](const TBytes& b) {
    if (FrameWord(b.data()) != CMD_GRANT || timer != 0) return;
    granted = rig.clock.GetTickCount();
    timer = rig.pump.AddTimer(1000, [&] {
      if (sent >= 60) return;  // a test without the bound still ends
      ++sent;
      rig.Receive(TermToPc(12, kPsw, CMD_WT));
    });
  });
  EXPECT_EQ(rig.poller.DealPDACmd(0), RC_TIMEOUT);
  rig.pump.StopTimer(timer);
  EXPECT_GE(rig.clock.GetTickCount() - granted, 6000u);
  EXPECT_LT(rig.clock.GetTickCount() - granted, 2 * 6000u);
  EXPECT_LE(sent, 7);
  EXPECT_TRUE(exchange.calls.empty());
}

struct TReplyCase {
  const char* name;
  TBytes request;
  int result;
};

class PollReply : public Poll, public ::testing::WithParamInterface<TReplyCase> {};

TEST_P(PollReply, EndsTheCycle) {
  TerminalAnswers(12, kPsw);
  OnGrantSend(12, GetParam().request);
  EXPECT_EQ(rig.poller.DealPDACmd(0), GetParam().result);
  EXPECT_TRUE(exchange.calls.empty());
  EXPECT_EQ(rig.port.Written().size(), 2u) << "nothing answers the terminal";
}

INSTANTIATE_TEST_SUITE_P(Cases, PollReply,
                         ::testing::Values(TReplyCase{"Error63", TermErr(12, kPsw, RC_TERM_EMPTY),
                                                      RC_TERM_EMPTY},
                                           TReplyCase{"ErrorZero", TermErr(12, kPsw, RC_OK), RC_OK},
                                           TReplyCase{"UnknownCode", TermToPc(12, kPsw, 0x7777), RC_BADCMD},
                                           TReplyCase{"NoRequest", {}, RC_TIMEOUT}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Poll, StocktakingSweepsTheListInOrder) {
  SetServerType(1);
  rig.terminals.list = {"3", "x", "5", "0"};
  rig.StopAfter(350);  // stopped while terminal 5 is polled: the loop ends after that poll
  rig.RunLoop();
  const auto polls = rig.port.WrittenWithWord(CMD_POLL);
  ASSERT_EQ(polls.size(), 2u);
  EXPECT_EQ(polls[0].bytes, BuildTermFrame(kPsw, 3, CMD_POLL, 0));
  EXPECT_EQ(polls[1].bytes, BuildTermFrame(kPsw, 5, CMD_POLL, 0));
  EXPECT_EQ(polls[1].tick - polls[0].tick, 300u);
  EXPECT_TRUE(rig.poller.bPollIdle);
}

TEST_F(Poll, StopEndsTheSweepAfterThePollUnderWay) {
  SetServerType(1);
  rig.terminals.list = {"3", "4", "5", "6"};
  rig.StopAfter(100);
  rig.RunLoop();
  const auto polls = rig.port.WrittenWithWord(CMD_POLL);
  ASSERT_EQ(polls.size(), 1u);
  EXPECT_EQ(polls[0].bytes, BuildTermFrame(kPsw, 3, CMD_POLL, 0));
}

TEST_F(Poll, StocktakingWithEmptyListLeavesTheLoop) {
  SetServerType(1);
  rig.RunLoop();
  EXPECT_TRUE(rig.port.Written().empty());
  EXPECT_TRUE(rig.poller.bPollIdle);
  EXPECT_TRUE(rig.service.enabled);
}

TEST_F(Poll, OrderingLoopPollsUntilStopped) {
  rig.StopAfter(1000);
  rig.RunLoop();
  EXPECT_EQ(rig.port.WrittenWithWord(CMD_POLL).size(), 4u);  // at 0, 300, 600, 900 ms
  EXPECT_TRUE(rig.poller.bPollIdle);
}

TEST_F(Poll, ThreeRefusedWritesStopAtTheNextTick) {
  SetServerType(1);
  rig.terminals.list = {"3"};
  for (size_t i : {0u, 2u, 4u}) rig.port.RefuseWrite(i);
  rig.RunLoop();  // ends once the service is stopped
  EXPECT_EQ(rig.service.stops, 1);
  EXPECT_TRUE(rig.service.autoRun);
  EXPECT_EQ(rig.link.iSendErrCount, 0);
  EXPECT_TRUE(rig.poller.bPollIdle);
  // Refusals at 0, 300 and 600 ms (the tick at 500 ms saw only two); the tick at 1000 ms
  // stopped the service while the poll sent at 900 ms waited, and that poll was the last.
  ASSERT_EQ(rig.port.Written().size(), 7u);
  EXPECT_EQ(rig.port.Written()[6].tick - rig.port.Written()[0].tick, 900u);
}

TEST_F(Poll, EveryWriteRefusedStillStops) {
  SetServerType(1);
  rig.terminals.list = {"3"};
  rig.port.RefuseAll(true);
  rig.RunLoop();
  EXPECT_EQ(rig.service.stops, 1);
  EXPECT_EQ(rig.link.iSendErrCount, 0);
}

TEST_F(Poll, TwoRefusedWritesDoNotStop) {
  rig.link.iSendErrCount = 2;
  rig.poller.bPollIdle = false;  // a nested tick
  rig.poller.tmrCheckTimer();
  EXPECT_EQ(rig.service.stops, 0);
  rig.link.iSendErrCount = 3;
  rig.poller.tmrCheckTimer();
  EXPECT_EQ(rig.service.stops, 1);
  EXPECT_EQ(rig.link.iSendErrCount, 0);
}

TEST_F(Poll, HandlerExceptionLeavesTheLoopAndIsLogged) {
  TerminalAnswers(12, kPsw);
  OnGrantSend(12, TermToPc(12, kPsw, kBill));
  exchange.work = [] { throw std::runtime_error("boom"); };
  rig.RunLoop();
  EXPECT_TRUE(rig.poller.bPollIdle);
  EXPECT_NE(home.ErrLogText().find("Auto Run except:boom"), std::string::npos);
}

class ThrowingTickClock : public IClock {
 public:
  uint32_t GetTickCount() override { throw std::runtime_error("no clock"); }
  std::chrono::system_clock::time_point Now() override { return std::chrono::system_clock::now(); }
};

TEST_F(Poll, KeepAliveExceptionIsLogged) {
  ThrowingTickClock throwing;
  IClock* const virtualClock = SetClock(&throwing);
  rig.link.bDataBusy = true;
  rig.poller.bPollIdle = false;  // a nested tick
  rig.poller.tmrCheckTimer();
  SetClock(virtualClock);
  EXPECT_TRUE(rig.port.Written().empty());
  EXPECT_NE(home.ErrLogText().find("replyWait except:no clock"), std::string::npos);
}

TEST_F(Poll, CallTerminalZeroSendsOnceAndDoesNotListen) {
  rig.port.OnWrite(WordIs(CMD_CALL), Answer(TermToPc(0, kPsw, CMD_OK)), 10);
  const uint32_t t0 = rig.clock.GetTickCount();
  EXPECT_EQ(rig.poller.CallTerminal(0), RC_OK);
  ASSERT_EQ(rig.port.Written().size(), 1u);
  EXPECT_EQ(rig.port.Written()[0].bytes, BuildTermFrame(0, 0, CMD_CALL, 0));
  EXPECT_GE(rig.clock.GetTickCount() - t0, 100u);
  EXPECT_LT(rig.clock.GetTickCount() - t0, 110u);
}

TEST_F(Poll, CallTerminalGivesUpAfterThreeTimeOuts) {
  const uint32_t t0 = rig.clock.GetTickCount();
  EXPECT_EQ(rig.poller.CallTerminal(5), RC_TIMEOUT);
  const auto calls = rig.port.WrittenWithWord(CMD_CALL);
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[1].tick - calls[0].tick, 2000u);
  EXPECT_EQ(calls[0].bytes, BuildTermFrame(kPsw, 5, CMD_CALL, 0));
  EXPECT_EQ(rig.clock.GetTickCount() - t0, 6000u);
}

struct TCallCase {
  const char* name;
  TBytes answer;
  int result;
  size_t writes;
};

class CallAnswer : public Poll, public ::testing::WithParamInterface<TCallCase> {};

TEST_P(CallAnswer, Result) {
  // The second attempt is answered.
  rig.port.OnWrite(
      WordTo(CMD_CALL, 5), [](const TBytes&) { return std::vector<TBytes>{}; }, 0, 1);
  rig.port.OnWrite(WordTo(CMD_CALL, 5), Answer(GetParam().answer), 30, 1);
  EXPECT_EQ(rig.poller.CallTerminal(5), GetParam().result);
  EXPECT_EQ(rig.port.Written().size(), GetParam().writes);
}

INSTANTIATE_TEST_SUITE_P(Cases, CallAnswer,
                         ::testing::Values(TCallCase{"Ok", TermToPc(5, kPsw, CMD_OK), RC_OK, 2},
                                           TCallCase{"Error64", TermErr(5, kPsw, RC_TERM_FRAMENO),
                                                     RC_TERM_FRAMENO, 2},
                                           TCallCase{"WrongPassword", TermToPc(5, 1, CMD_OK), RC_BADPSW, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Poll, WaitReplyTimeOutEdge) {
  // The tick is taken before the messages are handled: a frame due exactly at the time-out
  // arrives in the last pass and the wait still reports a time-out, with the frame in the buffer.
  const struct {
    uint32_t arrives;
    int result;
  } cases[] = {{9, RC_OK}, {10, RC_TIMEOUT}, {11, RC_TIMEOUT}};
  for (const auto& c : cases) {
    rig.pump.Deliver(TermToPc(7, kPsw, kBill), c.arrives);
    EXPECT_EQ(rig.link.WaitReply(10), c.result) << c.arrives;
    EXPECT_EQ(rig.link.FrameReady(), c.arrives <= 10) << c.arrives;
    rig.link.Delay(20);  // lets a late frame go by
  }
}

// The Qt pump's sleep handles events as they come; a frame it delivers at the time-out
// is as late as one delivered in the pass after it.
TEST_F(Poll, WaitReplyTimeOutEdgeWithAPumpThatDeliversWhileSleeping) {
  struct TEagerPump : TVirtualPump {
    using TVirtualPump::TVirtualPump;
    void Sleep(uint32_t ms) override {
      TVirtualPump::Sleep(ms);
      ProcessMessages();
    }
  } eager(rig.clock);
  eager.SetReceiver([this](const uint8_t* d, uint32_t n) { rig.link.OnReceiveData(d, n); });
  rig.link.SetPump(&eager);
  const struct {
    uint32_t arrives;
    int result;
  } cases[] = {{9, RC_OK}, {10, RC_TIMEOUT}};
  for (const auto& c : cases) {
    eager.Deliver(TermToPc(7, kPsw, kBill), c.arrives);
    EXPECT_EQ(rig.link.WaitReply(10), c.result) << c.arrives;
    rig.link.Delay(20);
  }
  rig.link.SetPump(&rig.pump);
}

TEST_F(Poll, WaitReplyJudgesTheTickTakenBeforeProcessing) {
  // A message handled at 8 ms runs for 5 ms and brings the frame: the pass began before the
  // time-out, so the frame counts.
  rig.pump.Post(
      [&] {
        rig.clock.Advance(5);
        rig.Receive(TermToPc(7, kPsw, kBill));
      },
      8);
  EXPECT_EQ(rig.link.WaitReply(10), RC_OK);
}

// The waits hand the pump the time left instead of sleeping 1 ms per pass, so an idle wait
// wakes only for events: a silent 6 s wait is one sleep, a frame wakes the wait when it comes.
TEST_F(Poll, WaitsSleepUntilTheDeadlineOrTheNextEvent) {
  struct TCountingPump : TVirtualPump {
    using TVirtualPump::TVirtualPump;
    void Sleep(uint32_t ms) override {
      asked.push_back(ms);
      TVirtualPump::Sleep(ms);
    }
    std::vector<uint32_t> asked;
  } counting(rig.clock);
  counting.SetReceiver([this](const uint8_t* d, uint32_t n) { rig.link.OnReceiveData(d, n); });
  rig.link.SetPump(&counting);
  const struct {
    const char* name;
    int64_t arrives;  // -1: nothing comes
    int timeout;
    int result;
    uint32_t took;
    std::vector<uint32_t> asked;
  } cases[] = {
      {"silent", -1, 6000, RC_TIMEOUT, 6000, {6000}},
      {"frame at 250", 250, 6000, RC_OK, 250, {6000}},
      {"frame after the deadline", 7000, 6000, RC_TIMEOUT, 6000, {6000}},
  };
  for (const auto& c : cases) {
    counting.asked.clear();
    if (c.arrives >= 0) counting.Deliver(TermToPc(7, kPsw, kBill), static_cast<uint32_t>(c.arrives));
    const uint32_t start = rig.clock.GetTickCount();
    EXPECT_EQ(rig.link.WaitReply(c.timeout), c.result) << c.name;
    EXPECT_EQ(rig.clock.GetTickCount() - start, c.took) << c.name;
    EXPECT_EQ(counting.asked, c.asked) << c.name;
    rig.link.Delay(2000);  // lets a late frame go by
  }
  // Delay: one sleep of the whole time; a timer tick on the way splits it, nothing else.
  const int timer = counting.AddTimer(150, [] {});
  counting.asked.clear();
  const uint32_t start = rig.clock.GetTickCount();
  rig.link.Delay(200);
  EXPECT_EQ(rig.clock.GetTickCount() - start, 200u);
  EXPECT_EQ(counting.asked, (std::vector<uint32_t>{200, 50}));
  counting.StopTimer(timer);
  rig.link.SetPump(&rig.pump);
}

// A stop ends the wait under way at once, as a time-out, and every later wait too, until the
// service starts again.
TEST_F(Poll, StopRequestEndsEveryWaitAtOnceUntilCleared) {
  rig.pump.Post([this] { rig.link.RequestStop(); }, 100);
  uint32_t start = rig.clock.GetTickCount();
  EXPECT_EQ(rig.link.WaitReply(30000), RC_TIMEOUT);
  EXPECT_EQ(rig.clock.GetTickCount() - start, 100u);
  EXPECT_TRUE(rig.link.StopRequested());

  // A frame already on its way does not make a stopped wait succeed.
  rig.pump.Deliver(TermToPc(7, kPsw, kBill), 0);
  start = rig.clock.GetTickCount();
  EXPECT_EQ(rig.link.WaitReply(6000), RC_TIMEOUT);
  rig.link.Delay(5000);
  EXPECT_EQ(rig.clock.GetTickCount() - start, 0u);

  rig.link.ClearStop();
  rig.pump.ProcessMessages();  // the frame the stopped wait left behind
  rig.pump.Deliver(TermToPc(7, kPsw, kBill), 40);
  start = rig.clock.GetTickCount();
  EXPECT_EQ(rig.link.WaitReply(6000), RC_OK);
  EXPECT_EQ(rig.clock.GetTickCount() - start, 40u);
  rig.pump.Post([this] { rig.link.RequestStop(); }, 30);
  start = rig.clock.GetTickCount();
  rig.link.Delay(5000);
  EXPECT_EQ(rig.clock.GetTickCount() - start, 30u);
}

TEST_F(Poll, WaitReplyDiscardsEarlierFrame) {
  rig.Receive(TermToPc(7, kPsw, kBill));
  ASSERT_TRUE(rig.link.FrameReady());
  EXPECT_EQ(rig.link.WaitReply(50), RC_TIMEOUT);
}

class KeepAlive : public Poll, public ::testing::WithParamInterface<uint32_t> {
 protected:
  KeepAlive() : Poll(GetParam()) {}
};

TEST_P(KeepAlive, WaitEvery1500msWhileBusy) {
  TerminalAnswers(12, kPsw);
  OnGrantSend(12, TermToPc(12, kPsw, kBill));
  uint32_t busyFrom = 0, busyTo = 0;
  exchange.work = [&] {
    rig.link.SetDataBusy(true);
    busyFrom = rig.clock.GetTickCount();
    rig.link.Delay(4000);  // the database at work; nested ticks arrive meanwhile
    rig.link.SetDataBusy(false);
    busyTo = rig.clock.GetTickCount();
    rig.link.Delay(3000);
    rig.service.enabled = false;
  };
  rig.RunLoop();
  const auto waits = rig.port.WrittenWithWord(CMD_WT);
  ASSERT_EQ(waits.size(), 2u);
  EXPECT_EQ(waits[0].bytes, BuildTermFrame(kPsw, 12, CMD_WT, 0));
  const uint32_t first = waits[0].tick - busyFrom, gap = waits[1].tick - waits[0].tick;
  EXPECT_GE(first, 1500u);
  EXPECT_LT(first, 2000u);
  EXPECT_GE(gap, 1500u);
  EXPECT_LT(gap, 2000u);
  EXPECT_LT(static_cast<int32_t>(waits[1].tick - busyTo), 0);
}

// The second start puts the busy period across the wrap of the 32-bit tick.
INSTANTIATE_TEST_SUITE_P(Start, KeepAlive, ::testing::Values(1000u, 0xFFFFFFFFu - 1200u));

}  // namespace
}  // namespace qv

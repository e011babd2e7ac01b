// The PC's link core against the simulator over real pseudo-terminals: the engine on a
// thread of its own, and the qv-sim program as a separate process.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "LinkRig.h"
#include "SimLoop.h"
#include "SimPcSide.h"
#include "SimRig.h"
#include "base/Text.h"
#include "link/Catalogue.h"
#include "link/BaseStation.h"
#include "link/Poller.h"

namespace qv::sim::test {
namespace {

constexpr int kWaitMs = 10000;  // generous: the machine may be loaded

// A 200 ms answer window is tight on a loaded machine; a time-out is tried again, any
// other result is returned.
int Retried(const std::function<int()>& exchange) {
  int r = RC_TIMEOUT;
  for (int i = 0; i < 10 && r == RC_TIMEOUT; ++i) r = exchange();
  return r;
}

class SimOverPty : public ::testing::Test {
 protected:
  void SetUp() override {
    sim = std::make_unique<TSimThread>(
        ConfigFrom(R"(
station 4711
version V1.0
terminal 12 ordering
request RT-LOGIN cCorpCode=0001 cDevCode=PDA12 cUserCode=001 cUserPsw=1234
request RT-BILL cTableNo=A01 cOpCode=001
)"),
        [this](TSimEngine& engine) {
          engine.SetFrameObserver([this](bool fromPc, const std::vector<uint8_t>& f) {
            std::lock_guard<std::mutex> lk(mu);
            if (fromPc) seen.push_back(f);
          });
        });
    pc = std::make_unique<TPcSide>(sim->Path());
    ASSERT_EQ(pc->started, 1);
  }
  void TearDown() override {
    pc.reset();
    EXPECT_EQ(sim->Stop(), 0);
  }
  std::vector<TBytes> Seen() {
    std::lock_guard<std::mutex> lk(mu);
    return seen;
  }
  // Waits for an accepted terminal frame from the simulator.
  const uint8_t* Reply() {
    EXPECT_EQ(pc->link.WaitReply(kWaitMs), RC_OK);
    return pc->link.RecBuffer();
  }

  std::mutex mu;
  std::unique_ptr<TSimThread> sim;
  std::unique_ptr<TPcSide> pc;
  std::vector<TBytes> seen;
};

TEST_F(SimOverPty, SetChannelSendsThirteenBytesAndReadsThree) {
  TBaseStation base(pc->link);
  uint8_t channel = 0;
  ASSERT_EQ(Retried([&] { return base.SetChannel(3, channel); }), RC_OK);
  EXPECT_EQ(channel, 3);
  const std::vector<TBytes> s = Seen();
  ASSERT_FALSE(s.empty());
  EXPECT_EQ(s.back(), (TBytes{0xAF, 0xAF, 0, 0, 0xAF, 0x80, 0x05, 0x02, 0x03, 0x00, 0x97, 0x0D, 0x0A}));
  uint8_t read = 0;
  ASSERT_EQ(Retried([&] { return base.ReadAll(read); }), RC_OK);
  EXPECT_EQ(read, 3);
}

TEST_F(SimOverPty, VersionAndStationNumberComeBack) {
  TBaseStation base(pc->link);
  TBaseInfo info;
  ASSERT_EQ(Retried([&] { return base.ReadInfo(info); }), RC_OK);
  EXPECT_EQ(info.strVersion, "V1.0");
  EXPECT_EQ(info.iStationNo, 4711);
}

TEST_F(SimOverPty, OrderingTerminalAnswersPollSendsLoginAndAcknowledges) {
  TLink& link = pc->link;
  pc->port.SetDtrControl(TLinkDtr::DtrDisable);  // terminal traffic
  ASSERT_EQ(link.SendPoll(0), RC_OK);
  const uint8_t* f = Reply();
  EXPECT_EQ(FrameWord(f), CMD_ANSWER);
  EXPECT_EQ(FrameFieldA(f), 12u);
  EXPECT_EQ(FrameFieldB(f), 0u);
  link.CurPDANo = 12;
  ASSERT_EQ(link.SendGrant(12), 0);
  f = Reply();
  ASSERT_EQ(FrameWord(f), 0x0204);
  ASSERT_EQ(link.RecLen(), 16 + 22);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(f + 14 + 12), 3), "001");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(f + 14 + 16), 4), "1234");
  ASSERT_EQ(link.SendOK(0, 12, "张三"), RC_OK);
  f = Reply();
  EXPECT_EQ(FrameWord(f), CMD_OK);
  EXPECT_EQ(FrameNo(f), 0);

  // The next request is a bill query whose answer frames are acknowledged by number.
  link.CurPDANo = 0;
  ASSERT_EQ(link.SendPoll(0), RC_OK);
  EXPECT_EQ(FrameWord(Reply()), CMD_ANSWER);
  link.CurPDANo = 12;
  ASSERT_EQ(link.SendGrant(12), 0);
  EXPECT_EQ(FrameWord(Reply()), 0x1304);
  for (uint8_t no : {7, 0}) {
    ASSERT_EQ(link.SendOK(no, 12, "x"), RC_OK);
    f = Reply();
    EXPECT_EQ(FrameWord(f), CMD_OK);
    EXPECT_EQ(FrameNo(f), no);
  }
}

// Stands in for the read exchange: one "OK" frame numbered 0, then the acknowledgement.
class TOneFrameAnswer : public IExchangeHandler {
 public:
  explicit TOneFrameAnswer(TLink& link) : link_(link) {}
  int Send_Data_ToPDA(int iPDANo, const TStru_CmdList& cmd) override {
    served.push_back(cmd.strCmd);
    int r = link_.SendOK(0, iPDANo, "ok");
    if (r == 0) r = link_.WaitReply(kWaitMs);
    if (r == 0) acks.push_back(FrameWord(link_.RecBuffer()) == CMD_OK ? FrameNo(link_.RecBuffer()) : -1);
    return r;
  }
  int Save_Data_FrmPDA(int, const TStru_CmdList& cmd) override {
    served.push_back(cmd.strCmd);
    return 2;
  }
  std::vector<std::string> served;
  std::vector<int> acks;

 private:
  TLink& link_;
};

TEST_F(SimOverPty, PollingCycleServesTheScriptedTerminal) {
  qv::test::TTempHome home;
  qv::test::TSysSetScope settings;
  qv::test::SetServerType(0);
  pc->port.SetDtrControl(TLinkDtr::DtrDisable);
  qv::test::TFakeService service;
  qv::test::TFakeTerminalList terminals;
  TPoller poller(pc->link, service, terminals);
  TOneFrameAnswer handler(pc->link);
  poller.SetExchangeHandler(&handler);
  // A poll answer has 300 ms; on a loaded machine a cycle may miss it and is run again.
  for (int i = 0; i < 20 && handler.served.empty(); ++i) poller.DealPDACmd(0);
  ASSERT_EQ(handler.served, std::vector<std::string>{"RT-LOGIN"});
  EXPECT_EQ(pc->link.CurPDANo, 12);
  EXPECT_EQ(handler.acks, std::vector<int>{0});
}

// The program itself: started, read for its pty line, asked, stopped by SIGTERM.
TEST(SimProgram, ServesThePtyItPrintsAndStopsOnSigterm) {
  char dir[] = "/tmp/qv-sim-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/sim.log";
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
    execl(QV_SIM_PATH, "qv-sim", "--station", "77", "--log", log.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  std::string line;
  char c;
  while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
  close(out[0]);
  ASSERT_EQ(line.rfind("PTY /dev/", 0), 0u) << line;
  {
    TPcSide pc(line.substr(4));
    ASSERT_EQ(pc.started, 1);
    TBaseStation base(pc.link);
    TBaseInfo info;
    ASSERT_EQ(Retried([&] { return base.ReadInfo(info); }), RC_OK);
    EXPECT_EQ(info.strVersion, "V1.0");
    EXPECT_EQ(info.iStationNo, 77);
  }
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::ifstream in(log);
  std::stringstream ss;
  ss << in.rdbuf();
  EXPECT_NE(ss.str().find("<- PC  AF AF 00 00 AF 80 A0 00 2D 0D 0A  | base-station command 160"),
            std::string::npos)
      << ss.str();
  EXPECT_NE(ss.str().find("stopped:"), std::string::npos);
  std::remove(log.c_str());
  rmdir(dir);
}

}  // namespace
}  // namespace qv::sim::test

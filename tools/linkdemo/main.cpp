// Runs the polling cycle in ordering mode against scripted terminals on a virtual clock and
// prints every frame in both directions. Terminal 12 logs in; terminal 9 cuts in while the
// PC waits for terminal 12's acknowledgement and is told the base station is busy.
#include <cstdio>
#include <string>

#include "LinkRig.h"
#include "base/OpLog.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "link/Catalogue.h"
#include "link/FrameText.h"
#include "base/ResultCodes.h"

using namespace qv;
using namespace qv::test;

namespace {

constexpr uint32_t kPsw = 4660;
constexpr uint32_t kTerminal = 12;

uint32_t gStart = 0;
TVirtualClock* gClock = nullptr;

// Received chunks are reassembled on their own for display, so a frame split by the radio
// is described once it is whole.
TFrameAssembler gShown;

void Print(bool fromPc, const uint8_t* d, size_t n) {
  std::string meaning;
  if (fromPc) {
    meaning = DescribeFrame(d, n, true);
  } else if (gShown.DataToRecBuffer(d, static_cast<uint32_t>(n))) {
    meaning = DescribeFrame(gShown.Frame().data(), gShown.Frame().size(), false);
    gShown.ResetRecBuffer();
  } else {
    meaning = "(part of a frame, " + std::to_string(gShown.RecIndex + 1) + " bytes so far)";
  }
  std::printf("%8.3f s  %s  %s\n      %s\n", (gClock->GetTickCount() - gStart) / 1000.0,
              fromPc ? "PC ->" : "PC <-", HexText(d, n).c_str(), meaning.c_str());
}

// Stand-in for the read exchange until the real one exists: the database takes 3.5 s,
// then one "OK" frame numbered 0 goes out and the terminal's acknowledgement is awaited.
class DemoExchange : public IExchangeHandler {
 public:
  explicit DemoExchange(TPollRig& rig) : rig_(rig) {}
  int Send_Data_ToPDA(int iPDANo, const TStru_CmdList& cmd) override {
    TLink& link = rig_.link;
    link.SetDataBusy(true);
    link.Delay(3500);
    link.SetDataBusy(false);
    int r = link.SendOK(0, iPDANo, "张三,经理");
    if (r == RC_OK) r = link.WaitReply(SysSet().ReplyWaitMs);
    OpLog().WriteLvLog(iPDANo, cmd.strName, iErrToStr(r), true);
    rig_.service.enabled = false;  // one request is enough for the demo
    return r;
  }
  int Save_Data_FrmPDA(int, const TStru_CmdList&) override { return RC_BADCMD; }

 private:
  TPollRig& rig_;
};

}  // namespace

int main() {
  TTempHome home;  // log files go to a scratch directory
  SysSet().BaseCommPsw = static_cast<int>(kPsw);
  SysSet().SYS_SERVER_TYPE = 0;
  SysSet().ReplyWaitMs = 6000;

  TPollRig rig;
  gClock = &rig.clock;
  gStart = rig.clock.GetTickCount();
  DemoExchange exchange(rig);
  rig.poller.SetExchangeHandler(&exchange);
  rig.port.SetWriteHook([](const TBytes& b) { Print(true, b.data(), b.size()); });
  rig.pump.SetReceiver([&](const uint8_t* d, uint32_t n) {
    Print(false, d, n);
    rig.link.OnReceiveData(d, n);
  });

  // The terminal has a request from its second poll on; it sends it on the grant, in two
  // chunks as the radio delivers them, and acknowledges the answer.
  const uint8_t login[10] = {'1', '0', '0', '1', '8', '8', '8', '8', 0, 0};
  int polls = 0;
  rig.port.OnWrite(
      WordIs(CMD_POLL),
      [&](const TBytes&) {
        return ++polls < 2 ? std::vector<TBytes>{}
                           : std::vector<TBytes>{TermToPc(kTerminal, kPsw, CMD_ANSWER)};
      },
      25);
  rig.port.OnWrite(
      WordTo(CMD_GRANT, kTerminal),
      [&](const TBytes&) {
        const TBytes req = TermToPc(kTerminal, kPsw, 0x0204, 0, TBytes(login, login + sizeof login));
        return std::vector<TBytes>{TBytes(req.begin(), req.begin() + 9), TBytes(req.begin() + 9, req.end())};
      },
      40, 1);
  rig.port.OnWrite(
      WordTo(CMD_OK, kTerminal),
      [&](const TBytes&) {
        // Terminal 9 cuts in before terminal 12 acknowledges.
        rig.pump.Deliver(TermToPc(9, kPsw, 0x1404, 0, {'0', '0', '0', '1'}), 30);
        return std::vector<TBytes>{TermToPc(kTerminal, kPsw, CMD_OK)};
      },
      60, 1);

  std::printf("Polling cycle, ordering mode, password %u, virtual clock\n\n", kPsw);
  rig.RunLoop();

  std::printf("\nOperation log:\n");
  for (const TOpLogRow& row : OpLog().Rows())
    std::printf("  %-6s %-10s %s\n", row.strPDANo.c_str(), row.strType.c_str(), row.strValue.c_str());
  std::printf("\nServed terminal %d; %zu frames written; %.3f s of virtual time.\n", rig.link.CurPDANo,
              rig.port.Written().size(), (rig.clock.GetTickCount() - gStart) / 1000.0);
  const bool ok = rig.link.CurPDANo == static_cast<int>(kTerminal) && !OpLog().Rows().empty() &&
                  OpLog().Rows().back().strValue == iErrToStr(RC_OK);
  return ok ? 0 : 1;
}

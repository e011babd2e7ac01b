#pragma once
// One link on the virtual loop with a scripted port, plus fakes of the service window and
// the terminal list, a private program directory for the log files, and a settings scope.
#include <string>
#include <vector>

#include "ScriptedPort.h"
#include "TempHome.h"
#include "VirtualLoop.h"
#include "base/Settings.h"
#include "link/Link.h"
#include "link/Poller.h"

namespace qv::test {

// Restores SysSet() on destruction.
class TSysSetScope {
 public:
  TSysSetScope() : saved_(SysSet()) {}
  ~TSysSetScope() { SysSet() = saved_; }
  TSysSetScope(const TSysSetScope&) = delete;
  TSysSetScope& operator=(const TSysSetScope&) = delete;

 private:
  TStru_SysSet saved_;
};

// Sets the operating mode with its reply time-out.
void SetServerType(int type);

class TFakeService : public IServiceControl {
 public:
  bool IsCheckTimerEnabled() override { return enabled; }
  void StopService() override {
    ++stops;
    enabled = false;
  }
  void SetAutoRunFlag(bool bValue) override { autoRun = bValue; }

  bool enabled = true;
  int stops = 0;
  bool autoRun = false;
};

class TFakeTerminalList : public ITerminalList {
 public:
  std::vector<std::string> PosNoList() override { return list; }
  std::vector<std::string> list;
};

struct TLinkRig {
  explicit TLinkRig(uint32_t startTick = 1000);
  TLinkRig(const TLinkRig&) = delete;
  TLinkRig& operator=(const TLinkRig&) = delete;

  // Feeds bytes to the receive handler now.
  void Receive(const TBytes& bytes) { link.OnReceiveData(bytes.data(), static_cast<uint32_t>(bytes.size())); }

  TVirtualClock clock;
  TVirtualPump pump{clock};
  TScriptedPort port{pump};
  TLink link;
};

// A rig with a poller. Its check timer ticks every 500 ms on the virtual loop while a loop
// runs (nested ticks: keep-alive and the write-failure stop).
struct TPollRig : TLinkRig {
  explicit TPollRig(uint32_t startTick = 1000);
  ~TPollRig();
  // Runs the first tick (the loop) until the service is stopped.
  void RunLoop() { poller.tmrCheckTimer(); }
  // Stops the service (ends the loop after the poll under way) at this many ms from now.
  void StopAfter(uint32_t ms);

  TFakeService service;
  TFakeTerminalList terminals;
  TPoller poller{link, service, terminals};
  int checkTimer = 0;
};

}  // namespace qv::test

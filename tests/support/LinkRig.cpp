#include "LinkRig.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/Text.h"

namespace qv::test {

void SetServerType(int type) {
  SysSet().SYS_SERVER_TYPE = type;
  SysSet().ReplyWaitMs = type != 0 ? 30000 : 6000;
}

TLinkRig::TLinkRig(uint32_t startTick) : clock(startTick) {
  link.SetPort(&port);
  link.SetPump(&pump);
  pump.SetReceiver([this](const uint8_t* d, uint32_t n) { link.OnReceiveData(d, n); });
}

TPollRig::TPollRig(uint32_t startTick) : TLinkRig(startTick) {
  // Only ticks nested inside a running loop are delivered; the first tick is RunLoop(), so
  // tests that drive AskPDA and friends directly never start a loop by accident.
  checkTimer = pump.AddTimer(500, [this] {
    if (service.enabled && !poller.bPollIdle) poller.tmrCheckTimer();
  });
}

TPollRig::~TPollRig() {
  pump.StopTimer(checkTimer);
}

void TPollRig::StopAfter(uint32_t ms) {
  pump.Post([this] { service.enabled = false; }, ms);
}

}  // namespace qv::test

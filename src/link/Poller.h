#pragma once
// The polling cycle driven by the service's 500 ms check timer: polls, grants, dispatches
// each request to the read or the upload exchange, sends the "WT" keep-alive while the
// database works, and stops the service after three refused writes.
#include <functional>

#include "link/Link.h"
#include "link/LinkInterfaces.h"

namespace qv {

class TPoller {
 public:
  TPoller(TLink& link, IServiceControl& service, ITerminalList& terminals)
      : link_(link), service_(service), terminals_(terminals) {}
  TPoller(const TPoller&) = delete;
  TPoller& operator=(const TPoller&) = delete;

  void SetExchangeHandler(IExchangeHandler* handler) { handler_ = handler; }
  // Forgets the document number remembered by the upload bridge (LastBillNo).
  void SetClearLastBillNo(std::function<void()> hook) { clearLastBillNo_ = std::move(hook); }

  // Handler of the check timer; the first tick runs the loop, nested ticks keep alive.
  void tmrCheckTimer();
  // One poll cycle for one terminal (0 = open poll); the loop ignores the result.
  int DealPDACmd(int iPDANo);
  int AskPDA(int iPDANo);
  // Reaches one terminal before a download or result query.
  int CallTerminal(int iPDANo);

  TLink& Link() { return link_; }

  bool bPollIdle = true;  // no loop running; also held false by downloads and base exchanges

 private:
  void RunLoop();
  void KeepAlive();

  TLink& link_;
  IServiceControl& service_;
  ITerminalList& terminals_;
  IExchangeHandler* handler_ = nullptr;
  std::function<void()> clearLastBillNo_;
};

}  // namespace qv

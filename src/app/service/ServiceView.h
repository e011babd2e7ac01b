#pragma once
// What the running service reports to whoever shows it: the window, or standard output
// when there is no window.
#include <QString>
#include <string>
#include <vector>

#include "app/service/PosList.h"
#include "base/OpLog.h"

namespace qv {

class IServiceView : public IOpLogView {
 public:
  // The service state after a start (the port-open result, 1: running) or a stop (0).
  virtual void SetServiceState(int code) = 0;
  // A status message (the status bar's second panel).
  virtual void ShowStatus(const QString& text) = 0;
  // The database link as last found.
  virtual void SetNetState(bool linked) = 0;
  // The base station's channel as read at the start; 0 clears it.
  virtual void ShowBaseChannel(int channel) = 0;
  // The base station's version and number: cleared before they are read, shown once read.
  virtual void ClearBaseInfo() = 0;
  virtual void ShowBaseInfo(const std::string& version, int number) = 0;
  // The terminal list as loaded from POSLIST.BAT.
  virtual void ShowPosList(const std::vector<TPosRow>& rows) = 0;
  // Whether the view counts as active, so that the automatic restart may start the service.
  virtual bool IsMainFormActive() const = 0;
  // The terminals checked for a download.
  virtual std::vector<int> CheckedTerminals() = 0;
};

}  // namespace qv

#pragma once
// The running service: the serial port, the link and the polling cycle wired to the
// database bridge, the start and stop sequence with the base station, the database link
// watch, the terminal list and the download. It shows itself through an IServiceView.
#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "app/service/CommLinkPort.h"
#include "app/service/DbService.h"
#include "app/service/FrameTrace.h"
#include "app/service/PosList.h"
#include "app/service/ServiceView.h"
#include "link/Link.h"
#include "link/LinkInterfaces.h"
#include "link/Poller.h"
#include "serial/Comm.h"

class QTimer;

namespace qv {

class TDownload;

class TService : public QObject, public IServiceControl, public ITerminalList {
 public:
  // Wires the port, the link, the poller, the exchanges and the download, opens the frame
  // trace the settings ask for (TracePath) and hands the operation log to the view (rows
  // written before are shown first). Nothing starts yet.
  TService(IDbService& db, IServiceView& view, QObject* parent = nullptr);
  ~TService() override;

  // The start of the program: loads the terminal list, starts the service and the link
  // watch.
  void FormCreate();

  TComm cmPDA;
  QTimer* tmrCheck;  // 500 ms: the polling cycle while the service runs
  QTimer* tmrLink;   // 30 s: the database link watch and the automatic restart

  bool AutoRunFlag = false;  // set by a stop after three refused writes: restart when idle
  int iLinkFailCount = 0;

  // --- the service ---
  void mniStartClick();
  // Also gives up a database request under way (IDbService::CancelCall).
  void mniStopClick();
  // The one place a stop is requested (the stop command, the exit, a signal): the wait under
  // way and every later one end at once as a time-out, the download stops, and a database
  // call waiting meanwhile should end on it too (link_.StopRequested()). Cleared when the
  // service starts again.
  void RequestStop();
  bool StopRequested() const { return link_.StopRequested(); }
  void SetServiceState(int code);
  // The state last set: 1 while the service runs.
  bool Running() const { return serviceState_ == 1; }
  int SetBaseChannel(uint8_t channel);
  int ReadBaseChannel();
  bool ReadBaseInfo();

  // --- the database link ---
  void SetNetState();
  void tmrLinkTimer();
  // Connects to the database when not linked (what showing the window does).
  void FormShow();
  // The global exception handler's rule: a network error marks the link as lost.
  void aplctnvnts1Exception(const std::string& message);

  // --- the terminal list ---
  void LoadPosListFile();
  // Saves the rows shown as POSLIST.BAT; they are the terminal list from now on.
  void ListViewToFile(const std::vector<TPosRow>& rows);

  // --- the download ---
  // Runs the download of the types chosen in the settings, unless one runs already or the
  // database is working on a terminal's request.
  void RunDownload();
  bool Downloading() const { return downloading_; }
  TDownload* Download() { return download_.get(); }

  // --- the end ---
  // Gives up a database request under way, closes the port and stops both timers, so that a
  // polling loop under way ends after its current poll and the event loop can return.
  void ShutDown();
  // SIGTERM or SIGINT: stops the service and shuts down.
  void EndBySignal();

  TLink& Link() { return link_; }
  TPoller& Poller() { return poller_; }
  // The frame trace while one is written, else nullptr; why it could not be opened.
  ILinkTrace* Trace() { return link_.Trace(); }
  const std::string& TraceProblem() const { return trace_.Problem(); }

  // IServiceControl
  bool IsCheckTimerEnabled() override;
  void StopService() override { mniStopClick(); }
  void SetAutoRunFlag(bool bValue) override { AutoRunFlag = bValue; }
  // ITerminalList
  std::vector<std::string> PosNoList() override { return posNoList_; }

 private:
  void OnCheckTimeout();
  // Closes the port; the trace says so when it was open.
  void ClosePort();
  void TracePort(const std::string& text);

  IDbService& db_;
  IServiceView& view_;
  TFrameTrace trace_;
  TCommLinkPort port_;
  TLink link_;
  TPoller poller_;
  std::unique_ptr<IExchangeHandler> exchange_;
  std::unique_ptr<TDownload> download_;
  std::vector<std::string> posNoList_;
  int serviceState_ = 0;
  bool downloading_ = false;
};

}  // namespace qv

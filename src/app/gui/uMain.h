#pragma once
// The service window: terminal list, operation log, base-station information, the service
// start and stop, the database link watch, the tray icon and the closing rules.
#include <QMainWindow>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/OpLog.h"
#include "app/service/CommLinkPort.h"
#include "app/service/DbService.h"
#include "app/service/PosList.h"
#include "link/Link.h"
#include "link/LinkInterfaces.h"
#include "link/Poller.h"
#include "serial/Comm.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QSystemTrayIcon;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;

namespace qv {

class TDownload;

class TfrmMain : public QMainWindow,
                 public IServiceControl,
                 public ITerminalList,
                 public IOpLogView {
  Q_OBJECT

 public:
  // FormCreate runs inside: the terminal list is loaded and the service started.
  // headless: no desktop; the window stays hidden, counts as active for the automatic
  // restart, and operation-log rows and status messages also go to standard output.
  explicit TfrmMain(IDbService& db, bool headless = false, QWidget* parent = nullptr);
  ~TfrmMain() override;  // FormDestroy

  // --- components, by their names ---
  QLabel* pnlState;
  QGroupBox* grpPosList;
  QTreeWidget* lvPosList;
  QMenu* pmOper;
  QAction* mniSelAll;
  QAction* mniNoSelAll;
  QGroupBox* grpLog;
  QTreeWidget* lvLog;
  QMenu* pmOpLog;
  QAction* mniClear;
  QGroupBox* grpBaseInf;
  QLabel* lblVerCaption;
  QLabel* lblBaseNoCaption;
  QLabel* lblChannelCaption;
  QLabel* lblVerInf;
  QLabel* lblBaseNo;
  QLabel* lblChannel;
  QWidget* pnlBaseState;
  QPushButton* btnStartOrStop;
  QPushButton* btnAdd;
  QPushButton* btnDel;
  QPushButton* btnDownSet;
  QPushButton* btnDown;
  QPushButton* btnStopDown;
  QStatusBar* stat1;
  QLabel* stat1Panel[4];
  QMenuBar* mmMain;
  QAction* mniBaseSet;
  QAction* mniLinkDb;
  QAction* mniStart;
  QAction* mniStop;
  QAction* mniPosSet;
  QAction* mniDel;
  QAction* mniDownSet;
  QAction* mniDown;
  QAction* mniStopDown;
  QAction* mniHelp;
  QMenu* pmMain;
  QAction* mniShow;
  QAction* mniClose;
  QSystemTrayIcon* trayIcon;
  QTimer* tmrCheck;
  QTimer* tmrLink;

  TComm cmPDA;

  // --- process-wide state of the service ---
  bool AutoRunFlag = false;
  bool bExitFlag = false;
  int iLinkFailCount = 0;

  // --- operations ---
  void mniStartClick();
  void mniStopClick();
  void btnStartOrStopClick();
  void SetServiceState(int code);
  void ShowStatus(const QString& text);
  void SetNetState();
  int SetBaseChannel(uint8_t channel);
  int ReadBaseChannel();
  bool ReadBaseInfo();
  void tmrLinkTimer();
  bool IsMainFormActive() const;
  void mniShowClick();
  void mniCloseClick();
  void mniHelpClick();
  void mniBaseSetClick();
  void mniLinkDbClick();
  void mniDownSetClick();
  void btnDownClick();
  void btnStopDownClick();
  // The download under way or last run; none in a build without the exchange layer.
  TDownload* Download() { return download_.get(); }
  void aplctnvnts1Exception(const std::string& message);

  // Terminal list.
  void LoadPosListFile();
  void ListViewToFile();
  void mniPosSetClick();
  void mniDelClick();
  void mniSelAllClick();
  void mniNoSelAllClick();
  void AddPosRow(const std::string& no, const std::string& ver);

  // Operation log.
  void WriteLvLog(int iPDANo, const std::string& strType, const std::string& strValue, bool bAdd);
  void mniClearClick();

  TLink& Link() { return link_; }
  TPoller& Poller() { return poller_; }
  void SetExchangeHandler(IExchangeHandler* handler) { poller_.SetExchangeHandler(handler); }

  bool Headless() const { return headless_; }
  // The end of the program: closes the port and stops both timers, so that a polling loop
  // under way ends after its current poll and the event loop can return.
  void ShutDown();
  // SIGTERM or SIGINT: stops the service and ends the program as a confirmed "退出系统"
  // would, without asking.
  void EndBySignal();
  // Connects to the database when not linked (what showing the window does).
  void FormShow();

  // Whether the desktop offers a tray now; without one the close button minimises. Asked at
  // each close: a panel that starts after the program brings its tray later.
  bool TrayAvailable() const;
  // For tests: a fixed answer instead of asking the desktop.
  void SetTrayAvailable(bool available) { trayOverride_ = available; }

  // IServiceControl
  bool IsCheckTimerEnabled() override;
  void StopService() override { mniStopClick(); }
  void SetAutoRunFlag(bool bValue) override { AutoRunFlag = bValue; }
  // ITerminalList
  std::vector<std::string> PosNoList() override { return posNoList_; }
  // IOpLogView
  void RowsCleared() override;
  void RowAdded(const TOpLogRow& row) override;
  void LastRowChanged(const TOpLogRow& row) override;

 signals:
  // The window closed through "退出系统" and its confirmation: the program ends.
  void exitConfirmed();

 protected:
  void closeEvent(QCloseEvent* event) override;  // FormCloseQuery, FormClose
  void showEvent(QShowEvent* event) override;    // FormShow

 private:
  void BuildUi();
  void FormCreate();
  void ApplyMode();
  void ToggleVisible();
  void OnCheckTimeout();

  IDbService& db_;
  TCommLinkPort port_;
  TLink link_;
  TPoller poller_;
  std::unique_ptr<IExchangeHandler> exchange_;
  std::unique_ptr<TDownload> download_;
  std::vector<std::string> posNoList_;
  std::optional<bool> trayOverride_;
  bool downloading_ = false;
  bool headless_;
};

}  // namespace qv

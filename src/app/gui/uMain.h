#pragma once
// The service window: terminal list, operation log, base-station information, the service
// start and stop, the tray icon and the closing rules; a view and controller over the
// service it runs.
#include <QMainWindow>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/service/DbService.h"
#include "app/service/Service.h"
#include "app/service/ServiceView.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QSystemTrayIcon;
class QTreeWidget;
class QTreeWidgetItem;

namespace qv {

class TfrmMain : public QMainWindow, public IServiceView {
  Q_OBJECT

 public:
  // FormCreate runs inside: the terminal list is loaded and the service started.
  explicit TfrmMain(IDbService& db, QWidget* parent = nullptr);
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

  // The running service: port, link, poller, timers, terminal list, database link watch.
  TService& Service() { return *service_; }

  bool bExitFlag = false;

  // --- operations ---
  void mniStartClick() { service_->mniStartClick(); }
  void mniStopClick() { service_->mniStopClick(); }
  void btnStartOrStopClick();
  void mniShowClick();
  void mniCloseClick();
  void mniHelpClick();
  void mniBaseSetClick();
  void mniLinkDbClick();
  void mniDownSetClick();
  void btnDownClick();
  void btnStopDownClick();

  // Terminal list.
  void ListViewToFile();
  void mniPosSetClick();
  void mniDelClick();
  void mniSelAllClick();
  void mniNoSelAllClick();
  void AddPosRow(const std::string& no, const std::string& ver);

  // Operation log.
  void WriteLvLog(int iPDANo, const std::string& strType, const std::string& strValue, bool bAdd);
  void mniClearClick();

  // SIGTERM or SIGINT: stops the service and ends the program as a confirmed "退出系统"
  // would, without asking.
  void EndBySignal();

  // Whether the desktop offers a tray now; without one the close button minimises. Asked at
  // each close: a panel that starts after the program brings its tray later.
  bool TrayAvailable() const;
  // For tests: a fixed answer instead of asking the desktop.
  void SetTrayAvailable(bool available) { trayOverride_ = available; }

  // IServiceView: what the service shows. SetServiceState here sets the controls only; the
  // service's own SetServiceState also runs the check timer.
  void SetServiceState(int code) override;
  void ShowStatus(const QString& text) override;
  void SetNetState(bool linked) override;
  void ShowBaseChannel(int channel) override;
  void ClearBaseInfo() override;
  void ShowBaseInfo(const std::string& version, int number) override;
  void ShowPosList(const std::vector<TPosRow>& rows) override;
  // Shown, not minimised and the active window.
  bool IsMainFormActive() const override;
  std::vector<int> CheckedTerminals() override;
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
  void changeEvent(QEvent* event) override;      // a restore from minimised shows the log again

 private:
  void BuildUi();
  void FormCreate();
  void ApplyMode();
  void ToggleVisible();
  // The operation log is laid out and scrolled only while it can be seen; rows added
  // meanwhile are scrolled to when the window shows again.
  bool LogSeen() const;
  void ScrollLogToNewest();

  IDbService& db_;
  std::unique_ptr<TService> service_;
  std::optional<bool> trayOverride_;
  bool logScrollPending_ = false;
};

}  // namespace qv

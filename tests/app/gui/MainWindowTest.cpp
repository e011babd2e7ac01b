// The service window: start and stop, the service-state table, the base-station start
// sequence on a pseudo-terminal, the closing rules, the terminal list, the operation log
// view, the link watch, the exception rule and Help.
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <filesystem>
#include <functional>
#include <memory>

#include <chrono>
#include "DemoDb.h"
#include "GuiTestSupport.h"
#include "app/service/ExchangeWiring.h"
#include "base/OpLog.h"
#include "base/ResultCodes.h"
#include "link/Catalogue.h"
#include "link/RecordPack.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "base/AppPath.h"
#include "app/gui/uMain.h"
#include "link/Download.h"
#include "app/service/ServiceUtil.h"
#include "app/gui/uCommSet.h"
#include "app/gui/uDownSet.h"
#include "app/gui/uOtherSet.h"
#include "app/gui/uPosSet.h"
#include "link/Frames.h"

namespace qv::test {
namespace {

constexpr const char* kNoPort = "[CommSet]\nCommNo=/nonexistent/qv-tty\n";

class MainWindow : public GuiHome {
 protected:
  void Make(const std::string& ini = kNoPort) {
    PutIni(ini);
    frm = std::make_unique<TfrmMain>(db);
  }
  void TearDown() override {
    frm.reset();
    GuiHome::TearDown();
  }
  QString Status() const { return frm->stat1Panel[1]->text(); }
  std::vector<std::pair<QString, QString>> Rows(QTreeWidget* lv) const {
    std::vector<std::pair<QString, QString>> rows;
    for (int i = 0; i < lv->topLevelItemCount(); ++i)
      rows.emplace_back(lv->topLevelItem(i)->text(0), lv->topLevelItem(i)->text(lv == frm->lvLog ? 2 : 1));
    return rows;
  }
  void Check(int row, bool on) {
    frm->lvPosList->topLevelItem(row)->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
  }

  TFakeDb db;
  std::unique_ptr<TfrmMain> frm;
};

TEST_F(MainWindow, StartsStoppedWhenThePortCannotOpen) {
  Make();
  EXPECT_EQ(Status(), QStringLiteral("串口打开失败、请核对串口是否有效或已占用!-1"));
  EXPECT_EQ(frm->btnStartOrStop->text(), QStringLiteral("启动服务"));
  EXPECT_EQ(frm->btnStartOrStop->property("tag").toInt(), 0);
  EXPECT_FALSE(frm->Service().tmrCheck->isActive());
  EXPECT_EQ(frm->Service().tmrCheck->interval(), 500);
  EXPECT_TRUE(frm->Service().tmrLink->isActive());
  EXPECT_EQ(frm->Service().tmrLink->interval(), 30000);
  EXPECT_EQ(frm->windowTitle(), QStringLiteral("盘点机无线服务程序-V3.06.160822"));
  EXPECT_EQ(frm->pnlState->text(), QStringLiteral("盘点机无线服务程序"));
  EXPECT_EQ(frm->stat1Panel[0]->text(), QStringLiteral("状态"));
  EXPECT_EQ(frm->stat1Panel[2]->text(), QStringLiteral("数据库连接"));
  // Every component can be found by its name.
  for (const char* name : {"pnlState", "lvPosList", "lvLog", "grpBaseInf", "lblVerInf", "lblBaseNo",
                           "lblChannel", "btnStartOrStop", "btnAdd", "btnDel", "btnDownSet", "btnDown",
                           "btnStopDown", "stat1", "mmMain", "pnlBaseState", "grpPosList", "grpLog"})
    EXPECT_NE(frm->findChild<QWidget*>(name), nullptr) << name;
  for (const char* name :
       {"mniBaseSet", "mniLinkDb", "mniStart", "mniStop", "mniPosSet", "mniDel", "mniDownSet", "mniDown",
        "mniStopDown", "mniHelp", "mniShow", "mniClose", "mniSelAll", "mniNoSelAll", "mniClear"})
    EXPECT_NE(frm->findChild<QAction*>(name), nullptr) << name;
  for (const char* name : {"tmrCheck", "tmrLink"}) EXPECT_NE(frm->findChild<QTimer*>(name), nullptr) << name;
}

TEST_F(MainWindow, CaptionsAndDownloadControlsFollowTheMode) {
  struct {
    const char* ini;
    const char* add;
    const char* del;
    bool downloads;
  } cases[] = {
      {"[SysSet]\nSYS_SERVER_TYPE=1\n", "添加盘点机", "删除盘点机", false},
      {"[SysSet]\nSYS_SERVER_TYPE=0\n", "添加点菜宝", "删除点菜宝", true},
      {"[SysSet]\nSYS_SERVER_TYPE=2\n", "添加点菜宝", "删除点菜宝", true},
  };
  for (const auto& c : cases) {
    Make(std::string(kNoPort) + c.ini);
    EXPECT_EQ(frm->mniPosSet->text(), QString::fromUtf8(c.add)) << c.ini;
    EXPECT_EQ(frm->mniDel->text(), QString::fromUtf8(c.del)) << c.ini;
    EXPECT_EQ(frm->btnAdd->text(), QStringLiteral("添加盘点机"));
    EXPECT_EQ(frm->grpPosList->title(), QStringLiteral("盘点机列表"));
    for (QWidget* w : std::initializer_list<QWidget*>{frm->btnDownSet, frm->btnDown, frm->btnStopDown,
                                                      frm->lblVerCaption, frm->lblBaseNoCaption})
      EXPECT_EQ(!w->isHidden(), c.downloads) << c.ini << " " << w->objectName().toStdString();
    for (QAction* a : {frm->mniDownSet, frm->mniDown, frm->mniStopDown})
      EXPECT_EQ(a->isVisible(), c.downloads) << c.ini;
    frm.reset();
  }
}

TEST_F(MainWindow, ServiceStateTable) {
  Make(std::string(kNoPort) + "[SysSet]\nSYS_SERVER_TYPE=0\n");  // every control visible
  for (int code : {1, 0, -3, 1}) {
    frm->Service().SetServiceState(code);
    const bool run = code == 1;
    for (QAction* a : {frm->mniStart, frm->mniBaseSet, frm->mniPosSet, frm->mniLinkDb, frm->mniDel})
      EXPECT_EQ(a->isEnabled(), !run) << a->objectName().toStdString() << " " << code;
    EXPECT_EQ(frm->btnAdd->isEnabled(), !run);
    EXPECT_EQ(frm->btnDel->isEnabled(), !run);
    for (QAction* a : {frm->mniStop, frm->mniDown, frm->mniDownSet})
      EXPECT_EQ(a->isEnabled(), run) << a->objectName().toStdString() << " " << code;
    EXPECT_EQ(frm->btnDownSet->isEnabled(), run);
    EXPECT_EQ(frm->btnDown->isEnabled(), run);
    EXPECT_EQ(frm->Service().tmrCheck->isActive(), run);
    EXPECT_FALSE(frm->btnStopDown->isEnabled());
    EXPECT_FALSE(frm->mniStopDown->isEnabled());
    for (QLabel* l : {frm->lblChannel, frm->lblVerInf, frm->lblBaseNo}) EXPECT_EQ(!l->isHidden(), run);
    EXPECT_EQ(frm->btnStartOrStop->text(), run ? QStringLiteral("停止服务") : QStringLiteral("启动服务"));
    EXPECT_EQ(frm->btnStartOrStop->property("tag").toInt(), run ? 1 : 0);
  }
  frm->Service().SetServiceState(0);
}

TEST_F(MainWindow, StartSequenceTalksToTheBaseStation) {
  struct {
    int channelNo;
    std::vector<uint8_t> expectCmds;
  } cases[] = {{7, {5, 21, 0xA0}}, {0, {21, 0xA0}}};
  for (const auto& c : cases) {
    TPtyStation station;
    station.Answer(5, {static_cast<uint8_t>(c.channelNo), 0});
    station.Answer(21, {3, 0});
    station.Answer(0xA0, BaseInfo("V1.0", 4660));
    Make("[CommSet]\nCommNo=" + station.SlavePath() + "\nChannelNo=" + std::to_string(c.channelNo) + "\n");
    EXPECT_EQ(Status(), QStringLiteral("服务正常启动"));
    EXPECT_TRUE(frm->Service().tmrCheck->isActive());
    EXPECT_EQ(frm->btnStartOrStop->property("tag").toInt(), 1);
    std::vector<uint8_t> cmds;
    for (const auto& f : station.Frames()) cmds.push_back(f[6]);
    EXPECT_EQ(cmds, c.expectCmds) << "ChannelNo=" << c.channelNo;
    if (c.channelNo != 0) {
      EXPECT_EQ(station.Frames()[0][8], c.channelNo);
    }
    EXPECT_EQ(frm->lblChannel->text(), QStringLiteral("3"));
    EXPECT_EQ(frm->lblVerInf->text(), QStringLiteral("V1.0"));
    EXPECT_EQ(frm->lblBaseNo->text(), QStringLiteral("4660"));
    EXPECT_EQ(SysSet().iBaseStationID, 4660);
    EXPECT_EQ(ReadIni(Path("datalink.ini"))["SysSet"]["iBaseStationID"], "4660");
    EXPECT_EQ(frm->Service().cmPDA.DtrControl(), TDtrControl::DtrDisable);  // terminal traffic from here on
    EXPECT_TRUE(frm->Service().Poller().bPollIdle);

    frm->btnStartOrStopClick();  // tag 1: stop
    EXPECT_EQ(Status(), QStringLiteral("关闭串口成功!"));
    EXPECT_FALSE(frm->Service().tmrCheck->isActive());
    EXPECT_EQ(frm->Service().cmPDA.Handle(), -1);
    EXPECT_TRUE(frm->btnStartOrStop->isEnabled());
    frm.reset();
  }
}

TEST_F(MainWindow, DownloadButtonsComeBackWithTheServiceState) {
  Make(std::string(kNoPort) + "[SysSet]\nSYS_SERVER_TYPE=0\nTransData=1\nBroadcast=0\n");
  ASSERT_NE(frm->Service().Download(), nullptr);
  for (int code : {1, 0}) {
    frm->Service().SetServiceState(code);
    frm->Service().tmrCheck->stop();  // no polling loop here
    frm->btnStopDownClick();
    frm->btnDownClick();  // nothing checked, no broadcast: nothing to send
    const bool run = code == 1;
    EXPECT_EQ(frm->btnDown->isEnabled(), run);
    EXPECT_EQ(frm->btnDownSet->isEnabled(), run);
    EXPECT_EQ(frm->mniDownSet->isEnabled(), run);
    EXPECT_EQ(frm->mniDown->isEnabled(), run);
    EXPECT_FALSE(frm->btnStopDown->isEnabled());
    EXPECT_FALSE(frm->mniStopDown->isEnabled());
    EXPECT_FALSE(frm->Service().Download()->bStopDown) << "a new download clears the stop";
    EXPECT_TRUE(frm->Service().Poller().bPollIdle);
    EXPECT_EQ(frm->lvLog->topLevelItemCount(), 0);
  }
}

TEST_F(MainWindow, RestartDuringADownloadKeepsItsStopAndItsSelection) {
  Put("POSLIST.BAT", "5,V4.00\r\n");
  Make(std::string(kNoPort) + "[SysSet]\nSYS_SERVER_TYPE=0\nTransData=11\nBroadcast=1\n");
  Check(0, true);
  frm->Service().SetServiceState(1);
  frm->Service().tmrCheck->stop();
  bool inside = false;
  int rowsAfterNested = -1, rowsBeforeNested = -1;
  QObject::connect(frm->lvLog->model(), &QAbstractItemModel::rowsInserted, [&] {
    if (inside) return;
    inside = true;  // the first row of the download: act as a restart and the user would
    frm->Service().SetServiceState(1);
    frm->Service().tmrCheck->stop();  // no polling loop here
    EXPECT_TRUE(frm->btnStopDown->isEnabled());
    EXPECT_FALSE(frm->btnDown->isEnabled());
    rowsBeforeNested = frm->lvLog->topLevelItemCount();
    frm->btnDownClick();  // ignored while one runs
    rowsAfterNested = frm->lvLog->topLevelItemCount();
    SysSet().TransData = "10";  // the dialog saved meanwhile
  });
  frm->btnDownClick();
  EXPECT_EQ(rowsAfterNested, rowsBeforeNested);
  bool second = false;
  for (int i = 0; i < frm->lvLog->topLevelItemCount(); ++i)
    second |= frm->lvLog->topLevelItem(i)->text(1) == QStringLiteral("下传菜品分类");
  EXPECT_TRUE(second) << "the selection taken at the start still holds";
  EXPECT_TRUE(frm->btnDown->isEnabled());
  EXPECT_FALSE(frm->btnStopDown->isEnabled());
}

TEST_F(MainWindow, ExitWhilePollingEndsTheLoop) {
  TPtyStation station;
  Make("[SysSet]\nSYS_SERVER_TYPE=0\n[CommSet]\nCommNo=" + station.SlavePath() + "\n");
  int exits = 0;
  QObject::connect(frm.get(), &TfrmMain::exitConfirmed, [&exits] { ++exits; });
  TBoxSeen box;
  bool asked = false;
  int passes = 0;
  QTimer watch;
  watch.setInterval(20);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (asked || (station.TermWords().empty() && ++passes < 500)) return;
    asked = true;
    EXPECT_FALSE(frm->Service().Poller().bPollIdle) << "the exit comes from inside the loop";
    AnswerBox(box, QMessageBox::Ok);
    frm->mniCloseClick();
  });
  watch.start();
  while (!asked || !frm->Service().Poller().bPollIdle)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  EXPECT_TRUE(box.seen);
  EXPECT_EQ(exits, 1);
  EXPECT_FALSE(frm->Service().tmrCheck->isActive());
  EXPECT_FALSE(frm->Service().tmrLink->isActive());
  EXPECT_EQ(frm->Service().cmPDA.Handle(), -1);
}

// A terminal answers the poll and then falls silent: the loop waits up to 6 s for its
// request. The stop button, or the exit and OK, ends that wait at once and the loop unwinds.
TEST_F(MainWindow, StopAndExitEndTheWaitForASilentTerminalAtOnce) {
  using Clock = std::chrono::steady_clock;
  const struct {
    const char* name;
    bool exit;
  } cases[] = {{"停止服务", false}, {"退出系统", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPtyStation station;
    Make("[SysSet]\nSYS_SERVER_TYPE=0\n[CommSet]\nCommNo=" + station.SlavePath() + "\n");
    int exits = 0;
    QObject::connect(frm.get(), &TfrmMain::exitConfirmed, [&exits] { ++exits; });
    auto has = [&station](uint16_t word) {
      for (uint16_t w : station.TermWords())
        if (w == word) return true;
      return false;
    };
    TBoxSeen box;
    bool answered = false, stopped = false;
    Clock::time_point stopAt;
    int passes = 0;
    QTimer watch;
    watch.setInterval(20);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      if (stopped || ++passes > 1000) return;
      if (!answered && has(CMD_POLL)) {
        // Terminal 11 has a request waiting (the poll's wait is under way).
        const std::vector<uint8_t> answer = BuildTermFrame(11, 0, CMD_ANSWER, 0);
        frm->Service().Link().OnReceiveData(answer.data(), static_cast<uint32_t>(answer.size()));
        answered = true;
      } else if (answered && has(CMD_GRANT)) {
        // The loop now waits for the request that never comes.
        EXPECT_FALSE(frm->Service().Poller().bPollIdle);
        stopped = true;
        stopAt = Clock::now();
        if (c.exit) {
          AnswerBox(box, QMessageBox::Ok);
          frm->mniCloseClick();
        } else {
          frm->btnStartOrStop->click();
        }
      }
    });
    watch.start();
    while ((!stopped || !frm->Service().Poller().bPollIdle) && passes <= 1000)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ASSERT_TRUE(stopped) << "the terminal was never granted";
    EXPECT_LT(Clock::now() - stopAt, std::chrono::milliseconds(1000));
    EXPECT_FALSE(frm->Service().tmrCheck->isActive());
    EXPECT_EQ(frm->Service().cmPDA.Handle(), -1);
    EXPECT_EQ(exits, c.exit ? 1 : 0);
    EXPECT_EQ(box.seen, c.exit);
    frm.reset();
  }
}

// The stop button while a terminal's procedure runs: the window handles the click during the
// database's wait, the call is given up and the service stops.
TEST_F(MainWindow, StopButtonWorksWhileAProcedureRuns) {
  QV_NEED_DEMO_DB();
  TDemoDb demo;
  TSlowProcedure slow(demo, "MT_Ins_User_Login", 4);
  std::unique_ptr<IDbService> dbs = MakeDbService();
  TPtyStation station;
  PutIni("[SysSet]\nSYS_SERVER_TYPE=0\n[CommSet]\nCommNo=" + station.SlavePath() + "\n");
  frm = std::make_unique<TfrmMain>(*dbs);
  ASSERT_EQ(frm->btnStartOrStop->property("tag").toInt(), 1);
  int r = -1;
  bool done = false, clickedDuringCall = false;
  QTimer exchange;
  exchange.setInterval(20);
  QObject::connect(&exchange, &QTimer::timeout, [&] {
    if (done || station.TermWords().empty()) return;
    exchange.stop();
    QTimer click;
    click.setSingleShot(true);
    QObject::connect(&click, &QTimer::timeout, [&] {
      clickedDuringCall = dbs->CallUnderWay();
      frm->btnStartOrStop->click();
    });
    click.start(1000);
    TStru_CHGDATA chg;
    chg.iPDANo = 11;
    const std::string login = std::string("0001") + std::string("PDA11\0\0\0", 8) + std::string("003\0", 4) +
                              std::string("123\0\0\0", 6);
    std::memcpy(chg.wDataBuf, login.data(), login.size());
    chg.iDataLen = static_cast<int32_t>(login.size());
    r = Read_Data_FrmDB(frm->Service().Link(), chg, *GetCmdByCode(0x0204), BridgeReadRow());
    done = true;
  });
  exchange.start();
  while (!done || !frm->Service().Poller().bPollIdle)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  EXPECT_TRUE(clickedDuringCall);
  EXPECT_EQ(r, RC_SVC_DBOPEN) << "the call ran to its end";
  EXPECT_EQ(Status(), QStringLiteral("关闭串口成功!"));
  EXPECT_EQ(frm->btnStartOrStop->property("tag").toInt(), 0);
  EXPECT_FALSE(frm->Service().tmrCheck->isActive());
  frm.reset();
}

TEST_F(MainWindow, FailedListWriteKeepsTheFileAndLogs) {
  std::string list;
  for (int i = 0; i < 30; ++i) list += std::to_string(1000 + i) + ",V4.00\r\n";
  Put("POSLIST.BAT", list);
  Make();
  Check(0, true);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  signal(SIGXFSZ, SIG_IGN);
  rlimit low = old;
  low.rlim_cur = 200;  // room for the error line, not for the list
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  TBoxSeen yes;
  AnswerBox(yes, QMessageBox::Yes);
  frm->mniDelClick();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  EXPECT_EQ(frm->lvPosList->topLevelItemCount(), 29);
  EXPECT_EQ(Slurp("POSLIST.BAT"), list);
  EXPECT_NE(GbkToUtf8(Slurp("ResultErr.txt")).find("ListViewToFile except:"), std::string::npos);
}

TEST_F(MainWindow, ThreeWriteFailuresStopTheServiceForARestart) {
  TPtyStation station;
  Make("[SysSet]\nSYS_SERVER_TYPE=0\n[CommSet]\nCommNo=" + station.SlavePath() + "\n");
  bool armed = false;
  int passes = 0;
  QTimer watch;
  watch.setInterval(20);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (armed || (station.TermWords().empty() && ++passes < 500)) return;
    armed = true;
    frm->Service().Link().iSendErrCount = 3;  // the next nested check tick must stop the service
  });
  watch.start();
  while (!armed || !frm->Service().Poller().bPollIdle) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (passes >= 500) break;
  }
  EXPECT_FALSE(frm->Service().tmrCheck->isActive());
  EXPECT_EQ(Status(), QStringLiteral("关闭串口成功!"));
  EXPECT_TRUE(frm->Service().AutoRunFlag);
  EXPECT_EQ(frm->Service().Link().iSendErrCount, 0);
  EXPECT_TRUE(frm->mniStart->isEnabled());
}

TEST_F(MainWindow, MenusOpenTheirDialogs) {
  Make(std::string(kNoPort) + "[SysSet]\nSYS_SERVER_TYPE=0\n");
  frm->Service().AutoRunFlag = true;
  bool autoRunWhileOpen = true;
  OnModal<TfrmCommSet>([&](TfrmCommSet* d) {
    autoRunWhileOpen = frm->Service().AutoRunFlag;
    d->btnExit->click();
  });
  frm->mniBaseSet->trigger();
  EXPECT_FALSE(autoRunWhileOpen) << "the flag is cleared before the dialog opens";
  int opened = 0;
  OnModal<TfrmOtherSet>([&](TfrmOtherSet* d) {
    ++opened;
    d->BitBtn2->click();
  });
  frm->mniLinkDb->trigger();
  frm->Service().SetServiceState(1);
  frm->Service().tmrCheck->stop();
  OnModal<TfrmDownSet>([&](TfrmDownSet* d) {
    ++opened;
    d->btnClose->click();
  });
  frm->btnDownSet->click();
  EXPECT_EQ(opened, 2);
  frm->Service().SetServiceState(0);
}

TEST_F(MainWindow, SilentBaseStationLeavesLabelsEmpty) {
  TPtyStation station;  // answers nothing
  Make("[CommSet]\nCommNo=" + station.SlavePath() + "\n");
  EXPECT_EQ(Status(), QStringLiteral("服务正常启动"));
  EXPECT_TRUE(frm->lblChannel->text().isEmpty());
  EXPECT_TRUE(frm->lblVerInf->text().isEmpty());
  EXPECT_EQ(ReadIni(Path("datalink.ini"))["SysSet"].count("iBaseStationID"), 0u);
  frm->mniStopClick();
}

TEST_F(MainWindow, CloseButtonHidesOrMinimisesAndExitAsks) {
  Make();
  int exits = 0;
  QObject::connect(frm.get(), &TfrmMain::exitConfirmed, [&exits] { ++exits; });

  frm->SetTrayAvailable(true);
  frm->show();
  frm->close();
  EXPECT_FALSE(frm->isVisible()) << "with a tray the close button hides";
  frm->SetTrayAvailable(false);
  frm->show();
  frm->close();
  EXPECT_TRUE(frm->isVisible());
  EXPECT_TRUE(frm->isMinimized()) << "without a tray the close button minimises";
  frm->showNormal();
  frm->SetTrayAvailable(true);

  TBoxSeen box;
  AnswerBox(box, QMessageBox::Cancel);
  frm->mniCloseClick();
  ASSERT_TRUE(box.seen);
  EXPECT_EQ(box.title, QStringLiteral("提示"));
  EXPECT_EQ(box.text, QStringLiteral("您确定要退出系统吗？"));
  EXPECT_EQ(box.icon, QMessageBox::Information);
  EXPECT_EQ(box.buttons, QMessageBox::Ok | QMessageBox::Cancel);
  EXPECT_EQ(box.def, QMessageBox::Cancel);
  EXPECT_FALSE(frm->bExitFlag);
  EXPECT_TRUE(frm->isVisible());
  EXPECT_EQ(exits, 0);
  frm->close();  // again only hides, no question
  EXPECT_FALSE(frm->isVisible());
  EXPECT_EQ(exits, 0);

  TBoxSeen ok;
  AnswerBox(ok, QMessageBox::Ok);
  frm->mniCloseClick();  // works from the tray with the window hidden
  EXPECT_TRUE(ok.seen);
  EXPECT_EQ(exits, 1);
}

TEST_F(MainWindow, TrayIsAskedAtEachCloseAndItsIconWaitsForOne) {
  Make();
  // This platform has no tray; the icon stays shown so that Qt docks it once one appears.
  EXPECT_TRUE(frm->trayIcon->isVisible());
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  frm->show();
  frm->close();
  EXPECT_TRUE(frm->isMinimized()) << "asked now, not remembered from the start";
  frm->showNormal();
  frm->SetTrayAvailable(true);
  frm->close();
  EXPECT_FALSE(frm->isVisible());
}

TEST_F(MainWindow, TrayToggleShowsAndHides) {
  Make();
  frm->SetTrayAvailable(true);
  frm->mniShowClick();
  EXPECT_TRUE(frm->isVisible());
  frm->mniShowClick();
  EXPECT_FALSE(frm->isVisible());
}

TEST_F(MainWindow, OperationLogViewFollowsTheModel) {
  OpLog().WriteLvLog(3, "before", "row", true);  // rows written before the window exists
  Make();
  ASSERT_EQ(frm->lvLog->topLevelItemCount(), 1);
  EXPECT_EQ(frm->lvLog->headerItem()->text(1), QStringLiteral("操作类型"));
  EXPECT_EQ(frm->lvLog->columnWidth(1), 90);
  EXPECT_EQ(frm->lvLog->columnWidth(2), 230);
  for (int i = 2; i <= 50; ++i) frm->WriteLvLog(i, "t", "v" + std::to_string(i), true);
  EXPECT_EQ(frm->lvLog->topLevelItemCount(), 50);
  frm->WriteLvLog(0, "系统提示", "第51行", true);
  ASSERT_EQ(frm->lvLog->topLevelItemCount(), 1);
  EXPECT_EQ(frm->lvLog->topLevelItem(0)->text(0), QStringLiteral("ALL"));
  EXPECT_EQ(frm->lvLog->topLevelItem(0)->text(1), QStringLiteral("系统提示"));
  EXPECT_EQ(frm->lvLog->topLevelItem(0)->text(2), QStringLiteral("第51行"));
  EXPECT_EQ(frm->lvLog->topLevelItem(0)->textAlignment(2), Qt::AlignCenter);
  frm->WriteLvLog(9, "x", "正在发送:10/25", false);
  EXPECT_EQ(frm->lvLog->topLevelItem(0)->text(2), QStringLiteral("正在发送:10/25"));
  EXPECT_EQ(frm->lvLog->topLevelItem(0)->text(1), QStringLiteral("系统提示"));
  frm->mniClear->trigger();
  EXPECT_EQ(frm->lvLog->topLevelItemCount(), 0);
  EXPECT_TRUE(OpLog().Rows().empty());
  frm->WriteLvLog(9, "x", "ignored", false);  // nothing to update
  EXPECT_EQ(frm->lvLog->topLevelItemCount(), 0);
}

// Rows that come while nobody can see the list leave it where it was; showing the window
// again brings the newest row into view.
TEST_F(MainWindow, OperationLogScrollsOnlyWhileSeen) {
  struct Case {
    const char* how;
    std::function<void(TfrmMain&)> away, back;
  };
  const Case cases[] = {
      {"in the tray", [](TfrmMain& f) { f.close(); }, [](TfrmMain& f) { f.mniShowClick(); }},
      {"minimised", [](TfrmMain& f) { f.showMinimized(); }, [](TfrmMain& f) { f.showNormal(); }},
  };
  Make();
  frm->SetTrayAvailable(true);
  frm->resize(640, 480);
  QScrollBar* bar = frm->lvLog->verticalScrollBar();
  auto newestInView = [this] {
    QTreeWidgetItem* last = frm->lvLog->topLevelItem(frm->lvLog->topLevelItemCount() - 1);
    return last && frm->lvLog->viewport()->rect().contains(frm->lvLog->visualItemRect(last));
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    frm->showNormal();
    OpLog().Clear();
    for (int i = 1; i <= 40; ++i) frm->WriteLvLog(i, "t", "v", true);
    QApplication::processEvents();
    ASSERT_GT(bar->maximum(), 0) << "the rows must not all fit";
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(newestInView());

    bar->setValue(0);
    c.away(*frm);
    ASSERT_FALSE(frm->isVisible() && !frm->isMinimized());
    for (int i = 41; i <= 49; ++i) frm->WriteLvLog(i, "t", "v", true);
    QApplication::processEvents();
    EXPECT_EQ(bar->value(), 0) << "scrolled while nobody saw it";

    c.back(*frm);
    QApplication::processEvents();
    EXPECT_EQ(frm->lvLog->topLevelItemCount(), 49);
    EXPECT_TRUE(newestInView());
  }
}

TEST_F(MainWindow, TerminalListLoadsAndPopupsCheck) {
  Put("POSLIST.BAT", "7,V4.00\r\n8\r\n9,V4.00\r\n");
  Make();
  const std::vector<std::pair<QString, QString>> want = {{"7", "V4.00"}, {"8", ""}, {"9", "V4.00"}};
  EXPECT_EQ(Rows(frm->lvPosList), want);
  EXPECT_EQ(frm->Service().PosNoList(), (std::vector<std::string>{"7", "8", "9"}));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(frm->lvPosList->topLevelItem(i)->checkState(0), Qt::Unchecked);
  Check(1, true);
  frm->mniNoSelAll->trigger();
  EXPECT_EQ(frm->lvPosList->topLevelItem(0)->checkState(0), Qt::Checked);
  EXPECT_EQ(frm->lvPosList->topLevelItem(1)->checkState(0), Qt::Unchecked);
  frm->mniSelAll->trigger();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(frm->lvPosList->topLevelItem(i)->checkState(0), Qt::Checked);
}

TEST_F(MainWindow, AddingThroughTheDialogSavesTheList) {
  Put("POSLIST.BAT", "7,V4.00\r\n");
  Make();
  OnModal<TfrmPosSet>([](TfrmPosSet* dlg) {
    dlg->edtPADNo->setText("88");
    dlg->btnSave->click();
  });
  frm->btnAdd->click();
  EXPECT_EQ(Slurp("POSLIST.BAT"), "7,V4.00\r\n88,V4.00\r\n");
  EXPECT_EQ(frm->Service().PosNoList(), (std::vector<std::string>{"7", "88"}));

  OnModal<TfrmPosSet>([](TfrmPosSet* dlg) {
    dlg->edtPADNo->setText("99");
    dlg->btnClose->click();
  });
  frm->mniPosSetClick();
  EXPECT_EQ(frm->lvPosList->topLevelItemCount(), 2);
  EXPECT_EQ(Slurp("POSLIST.BAT"), "7,V4.00\r\n88,V4.00\r\n");
}

TEST_F(MainWindow, DeletingAsksAndRemovesCheckedRows) {
  Make();
  bool anyModal = false;
  QTimer::singleShot(0, [&anyModal] {
    if (QWidget* w = QApplication::activeModalWidget()) {
      anyModal = true;
      w->close();
    }
  });
  frm->mniDelClick();  // empty list: nothing at all
  EXPECT_FALSE(anyModal);
  QCoreApplication::processEvents();

  Put("POSLIST.BAT", "1,V4.00\r\n2,V4.00\r\n3,V4.00\r\n4,V4.00\r\n");
  frm->Service().LoadPosListFile();
  TBoxSeen none;
  AnswerBox(none, QMessageBox::Ok);
  frm->btnDel->click();
  EXPECT_EQ(none.text, QStringLiteral("请选择需要删除的记录信息!"));
  EXPECT_EQ(frm->lvPosList->topLevelItemCount(), 4);

  Check(0, true);
  Check(2, true);
  TBoxSeen no;
  AnswerBox(no, QMessageBox::No);
  frm->mniDelClick();
  EXPECT_EQ(no.title, QStringLiteral("警告"));
  EXPECT_EQ(no.text, QStringLiteral("请确认是否删除所选的记录?"));
  EXPECT_EQ(no.icon, QMessageBox::Question);
  EXPECT_EQ(no.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(frm->lvPosList->topLevelItemCount(), 4);

  TBoxSeen yes;
  AnswerBox(yes, QMessageBox::Yes);
  frm->mniDelClick();
  EXPECT_TRUE(yes.seen);
  const std::vector<std::pair<QString, QString>> want = {{"2", "V4.00"}, {"4", "V4.00"}};
  EXPECT_EQ(Rows(frm->lvPosList), want);
  EXPECT_EQ(Slurp("POSLIST.BAT"), "2,V4.00\r\n4,V4.00\r\n");
  EXPECT_EQ(frm->Service().PosNoList(), (std::vector<std::string>{"2", "4"}));
}

TEST_F(MainWindow, LinkWatchCountsFailuresAndResetsOnSuccess) {
  Make();
  frm->Service().tmrLinkTimer();
  frm->Service().tmrLinkTimer();
  ASSERT_EQ(frm->lvLog->topLevelItemCount(), 2);
  EXPECT_EQ(frm->lvLog->topLevelItem(1)->text(0), QStringLiteral("ALL"));
  EXPECT_EQ(frm->lvLog->topLevelItem(1)->text(1), QStringLiteral("系统提示"));
  EXPECT_EQ(frm->lvLog->topLevelItem(1)->text(2), QStringLiteral("连接数据库失败!系统自动连接失败次数:2"));
  EXPECT_EQ(db.sweeps, 2);
  EXPECT_EQ(db.connects, 0) << "a failed connection test skips the connect";

  db.testOk = true;
  db.connectOk = true;
  frm->Service().tmrLinkTimer();
  EXPECT_EQ(frm->stat1Panel[3]->text(), QStringLiteral("正常"));
  EXPECT_EQ(frm->Service().iLinkFailCount, 0);

  db.checkOk = false;  // the link check fails while linked
  frm->Service().tmrLinkTimer();
  EXPECT_FALSE(db.linked);
  EXPECT_EQ(frm->stat1Panel[3]->text(), QStringLiteral("断开"));

  db.testOk = false;
  frm->Service().tmrLinkTimer();
  EXPECT_EQ(frm->lvLog->topLevelItem(frm->lvLog->topLevelItemCount() - 1)->text(2),
            QStringLiteral("连接数据库失败!系统自动连接失败次数:1"));
}

// A request's own link check (run when it found the link down) shows its finding at once,
// not at the link timer's next tick.
TEST_F(MainWindow, LinkCheckOfARequestIsShown) {
  Make();
  ASSERT_TRUE(db.linkChecked);
  db.linked = true;
  db.linkChecked();
  EXPECT_EQ(frm->stat1Panel[3]->text(), QStringLiteral("正常"));
  db.linked = false;
  db.linkChecked();
  EXPECT_EQ(frm->stat1Panel[3]->text(), QStringLiteral("断开"));
  frm.reset();
  EXPECT_FALSE(db.linkChecked) << "a window that is gone is not called";
}

TEST_F(MainWindow, ShowingConnectsWhenNotLinked) {
  Make();
  EXPECT_EQ(db.connects, 0);
  frm->show();
  EXPECT_EQ(db.connects, 1);
  EXPECT_EQ(frm->stat1Panel[3]->text(), QStringLiteral("断开"));
  frm->hide();
  db.connectOk = true;
  frm->show();
  EXPECT_EQ(db.connects, 2);
  EXPECT_EQ(frm->stat1Panel[3]->text(), QStringLiteral("正常"));
  frm->hide();
  frm->show();
  EXPECT_EQ(db.connects, 2) << "already linked";
}

TEST_F(MainWindow, AutomaticRestartWaitsForTheActiveWindow) {
  Make();
  frm->Service().AutoRunFlag = true;
  frm->ShowStatus("marker");
  frm->Service().tmrLinkTimer();  // hidden: no restart
  EXPECT_EQ(Status(), QStringLiteral("marker"));
  frm->show();
  QApplication::setActiveWindow(frm.get());
  ASSERT_TRUE(frm->IsMainFormActive());
  frm->Service().tmrLinkTimer();
  EXPECT_EQ(Status(), QStringLiteral("串口打开失败、请核对串口是否有效或已占用!-1"));
  EXPECT_TRUE(frm->Service().AutoRunFlag) << "a failed start keeps trying";
}

class UrlCatcher : public QObject {
  Q_OBJECT
 public:
  QList<QUrl> urls;
  Q_INVOKABLE void open(const QUrl& url) { urls << url; }
};

TEST_F(MainWindow, HelpOpensTheTrimmedFile) {
  Make(std::string(kNoPort) + "[SysSet]\nSTR_HELP_FILE= manual.chm \n");
  UrlCatcher catcher;
  QDesktopServices::setUrlHandler("file", &catcher, "open");
  frm->mniHelp->trigger();
  QDesktopServices::unsetUrlHandler("file");
  ASSERT_EQ(catcher.urls.size(), 1);
  EXPECT_EQ(catcher.urls[0], QUrl::fromLocalFile(QDir::current().absoluteFilePath("manual.chm")));
  EXPECT_EQ(SysSet().HelpFile, "manual.chm");
}

}  // namespace
}  // namespace qv::test

#include "MainWindowTest.moc"

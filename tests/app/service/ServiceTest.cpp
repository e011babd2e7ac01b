// The service without a window: what it reports while it starts and stops, the polling
// loop under the check timer, the port library, and the exception rule.
#include <pty.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "DemoDb.h"
#include "ServiceTestSupport.h"
#include "app/service/QtCommDispatcher.h"
#include "app/service/QtPump.h"
#include "app/service/ExchangeWiring.h"
#include "app/service/Service.h"
#include "app/service/ServiceUtil.h"
#include "base/AppPath.h"
#include "base/OpLog.h"
#include "base/ResultCodes.h"
#include "bridge/DbLink.h"
#include "link/Catalogue.h"
#include "link/Frames.h"
#include "link/RecordPack.h"

namespace qv::test {
namespace {

constexpr const char* kNoPort = "[CommSet]\nCommNo=/nonexistent/qv-tty\n";

class Service : public ServiceHome {
 protected:
  void Make(const std::string& ini = kNoPort) {
    PutIni(ini);
    svc = std::make_unique<TService>(db, view);
    svc->FormCreate();
  }
  void TearDown() override {
    svc.reset();
    ServiceHome::TearDown();
  }

  TFakeDb db;
  TRecordingView view;
  std::unique_ptr<TService> svc;
};

TEST_F(Service, StartAndStopReportToTheView) {
  const std::vector<std::string> answered = {
      "row 0003 before",     "list 2",         "state 0", "channel 0",           "channel 3",
      "info cleared",        "info V1.0 4660", "state 1", "status 服务正常启动", "state 0",
      "status 关闭串口成功!"};
  const std::vector<std::string> silent = {"row 0003 before",     "list 2",       "state 0",
                                           "channel 0",           "info cleared", "state 1",
                                           "status 服务正常启动", "state 0",      "status 关闭串口成功!"};
  const struct {
    bool answers;
    const std::vector<std::string>& want;
  } cases[] = {{true, answered}, {false, silent}};
  for (const auto& c : cases) {
    TPtyStation station;
    if (c.answers) {
      station.Answer(5, {7, 0});
      station.Answer(21, {3, 0});
      station.Answer(0xA0, BaseInfo("V1.0", 4660));
    }
    Put("POSLIST.BAT", "7,V4.00\r\n8\r\n");
    PutIni("[SysSet]\nSYS_SERVER_TYPE=0\n[CommSet]\nCommNo=" + station.SlavePath() + "\nChannelNo=7\n");
    OpLog().WriteLvLog(3, "t", "before", true);  // shown first: rows written before the service
    view.seen.clear();
    svc = std::make_unique<TService>(db, view);
    svc->FormCreate();
    EXPECT_TRUE(svc->Running());
    EXPECT_TRUE(svc->tmrCheck->isActive());
    EXPECT_TRUE(svc->tmrLink->isActive());
    EXPECT_EQ(svc->PosNoList(), (std::vector<std::string>{"7", "8"}));
    svc->mniStopClick();
    EXPECT_FALSE(svc->Running());
    EXPECT_FALSE(svc->tmrCheck->isActive());
    EXPECT_EQ(svc->cmPDA.Handle(), -1);
    EXPECT_EQ(view.seen, c.want) << (c.answers ? "answering" : "silent") << " base station";
    svc.reset();
    OpLog().Clear();
  }
}

TEST_F(Service, CheckTimerRunsThePollingLoopAndItsNestedTicks) {
  TPtyStation station;
  Make("[SysSet]\nSYS_SERVER_TYPE=0\n[CommSet]\nCommNo=" + station.SlavePath() + "\n");
  ASSERT_TRUE(svc->tmrCheck->isActive());
  auto has = [&station](uint16_t word) {
    for (uint16_t w : station.TermWords())
      if (w == word) return true;
    return false;
  };
  // The watch runs inside the loop's waits: once open polls arrive it marks the database as
  // busy, so the next nested check tick must send the "WT" keep-alive; then it stops.
  bool done = false;
  int passes = 0;
  QTimer watch;
  watch.setInterval(20);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    ++passes;
    if (done) return;
    if (has(CMD_POLL) && !svc->Link().bDataBusy) {
      EXPECT_FALSE(svc->Poller().bPollIdle) << "the loop is running";
      svc->Link().bDataBusy = true;
      svc->Link().BusyTick = svc->Link().GetTickCount() - 5000;
    }
    if (has(CMD_WT) || passes > 500) {
      svc->mniStopClick();
      done = true;
    }
  });
  watch.start();
  while (!done || !svc->Poller().bPollIdle) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  EXPECT_TRUE(has(CMD_POLL));
  EXPECT_TRUE(has(CMD_WT)) << "nested check ticks were not delivered";
  svc->Link().bDataBusy = false;
  EXPECT_FALSE(svc->tmrCheck->isActive());
}

// Each way the service is stopped ends a long wait under way at once, as a time-out; the
// next start clears the request, so its own waits wait again.
TEST_F(Service, StopEndsTheWaitUnderWayAndTheNextStartClearsIt) {
  using Clock = std::chrono::steady_clock;
  const struct {
    const char* name;
    std::function<void(TService&)> stop;
  } cases[] = {
      {"停止服务", [](TService& s) { s.mniStopClick(); }},
      {"exit", [](TService& s) { s.ShutDown(); }},
      {"signal", [](TService& s) { s.EndBySignal(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPtyStation station;  // answers nothing: every wait runs to its end unless stopped
    Make("[SysSet]\nSYS_SERVER_TYPE=0\n[CommSet]\nCommNo=" + station.SlavePath() + "\n");
    ASSERT_TRUE(svc->Running());
    svc->tmrCheck->stop();  // no polling loop: the wait below is the test's
    ASSERT_FALSE(svc->StopRequested());
    QTimer::singleShot(100, svc.get(), [&] { c.stop(*svc); });
    const auto t0 = Clock::now();
    EXPECT_EQ(svc->Link().WaitReply(30000), RC_TIMEOUT);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    EXPECT_TRUE(svc->StopRequested());

    svc->mniStartClick();
    EXPECT_FALSE(svc->StopRequested());
    svc->tmrCheck->stop();
    const auto t1 = Clock::now();
    EXPECT_EQ(svc->Link().WaitReply(300), RC_TIMEOUT);
    EXPECT_GE(Clock::now() - t1, std::chrono::milliseconds(290)) << "the start left the stop in place";
    svc.reset();
  }
}

// A login whose procedure takes 4 s, run by the service on its real database connection from
// inside the polling loop, as an exchange does after the grant: the request waits in the event
// loop, so the nested check ticks send "WT" every 1,500 ms and no second poll starts; a stop
// meanwhile cancels the call on the server.
class SlowProcedure : public ServiceHome {
 protected:
  void SetUp() override {
    ServiceHome::SetUp();
    if (DemoConnStr().empty()) GTEST_SKIP() << "QV_TEST_PG is not set: no demo database to test against";
    demo = std::make_unique<TDemoDb>();
    slow = std::make_unique<TSlowProcedure>(*demo, "MT_Ins_User_Login", 4);
    dbs = MakeDbService();
  }
  void TearDown() override {
    svc.reset();
    dbs.reset();
    slow.reset();
    demo.reset();
    ServiceHome::TearDown();
  }

  std::unique_ptr<TDemoDb> demo;
  std::unique_ptr<TSlowProcedure> slow;
  std::unique_ptr<IDbService> dbs;
  TRecordingView view;
  std::unique_ptr<TService> svc;
};

TEST_F(SlowProcedure, KeepAlivesWhileItRunsAndAStopCancelsIt) {
  const struct {
    const char* name;
    int stopAfterMs;  // -1: no stop
  } cases[] = {{"left to finish", -1}, {"stopped after 1 s", 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPtyStation station;
    PutIni("[SysSet]\nSYS_SERVER_TYPE=0\n[CommSet]\nCommNo=" + station.SlavePath() + "\n");
    svc = std::make_unique<TService>(*dbs, view);
    svc->FormCreate();
    ASSERT_TRUE(svc->tmrCheck->isActive());
    auto words = [&station](uint16_t word) {
      int n = 0;
      for (uint16_t w : station.TermWords()) n += w == word;
      return n;
    };

    int r = -1;
    bool busyInside = false, downloadRefused = false;
    TStru_CHGDATA chg;
    bool done = false;
    QTimer exchange;
    exchange.setInterval(20);
    QObject::connect(&exchange, &QTimer::timeout, [&] {
      if (done || words(CMD_POLL) == 0) return;
      exchange.stop();
      ASSERT_FALSE(svc->Poller().bPollIdle) << "the exchange runs inside the polling loop";
      QTimer probe;  // what an event during the call sees
      probe.setSingleShot(true);
      QObject::connect(&probe, &QTimer::timeout, [&] {
        busyInside = dbs->CallUnderWay();
        svc->RunDownload();
        downloadRefused = !svc->Downloading() && svc->Link().bDataBusy;
        svc->tmrLinkTimer();  // the link watch leaves the connection alone
      });
      probe.start(500);
      QTimer stop;
      stop.setSingleShot(true);
      QObject::connect(&stop, &QTimer::timeout, [&] { svc->mniStopClick(); });
      if (c.stopAfterMs >= 0) stop.start(c.stopAfterMs);
      chg.iPDANo = 11;
      // corp 4, device 8, user 4, password 6 bytes, each filled with zeros
      const std::string login = std::string("0001") + std::string("PDA11\0\0\0", 8) +
                                std::string("003\0", 4) + std::string("123\0\0\0", 6);
      std::memcpy(chg.wDataBuf, login.data(), login.size());
      chg.iDataLen = static_cast<int32_t>(login.size());
      r = Read_Data_FrmDB(svc->Link(), chg, *GetCmdByCode(0x0204), BridgeReadRow());
      svc->mniStopClick();  // nothing else reaches the line: what it got so far is the call's
      done = true;
    });
    exchange.start();
    while (!done || !svc->Poller().bPollIdle) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    for (int i = 0; i < 10; ++i) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);

    EXPECT_TRUE(busyInside);
    EXPECT_TRUE(downloadRefused);
    EXPECT_TRUE(GetDbLinked()) << "a link check during the call must not mark the link down";
    const std::vector<uint16_t> all = station.TermWords();
    size_t lastPoll = 0;
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i] == CMD_POLL) lastPoll = i;
    int after = 0;
    for (size_t i = lastPoll + 1; i < all.size(); ++i) {
      EXPECT_EQ(all[i], CMD_WT) << "frame " << i << ": only keep-alives during the call";
      after += all[i] == CMD_WT;
    }
    EXPECT_EQ(after, words(CMD_WT)) << "a keep-alive before the last poll: a poll during the call";
    if (c.stopAfterMs < 0) {
      EXPECT_EQ(r, RC_OK);
      EXPECT_EQ(chg.strResult, "登录成功");
      EXPECT_GE(after, 2);
      EXPECT_LE(after, 3);
    } else {
      EXPECT_EQ(r, RC_SVC_DBOPEN) << chg.strResult;
      EXPECT_EQ(after, 0) << "stopped before the first keep-alive was due";
      EXPECT_NE(Slurp("ResultErr.txt").find("cancelled"), std::string::npos) << Slurp("ResultErr.txt");
      // Given up on the server, not only here: no statement of this database still runs.
      EXPECT_EQ(demo->Scalar("select count(*) from pg_stat_activity where datname = current_database() "
                             "and state = 'active' and pid <> pg_backend_pid()"),
                "0");
    }
    EXPECT_FALSE(svc->Running());
    EXPECT_FALSE(dbs->CallUnderWay());
    svc.reset();
  }
}

// The Qt pump's sleep blocks in the event loop: a call posted from another thread (as the
// serial threads post received data) ends it at once; with nothing to do it lasts until the
// deadline.
TEST_F(Service, QtPumpSleepEndsOnAPostFromAnotherThreadOrAtTheDeadline) {
  using Clock = std::chrono::steady_clock;
  const struct {
    const char* name;
    bool post;
    uint32_t sleepMs;
    std::chrono::milliseconds atLeast, below;
  } cases[] = {
      {"post after 50 ms", true, 10000, std::chrono::milliseconds(40), std::chrono::milliseconds(5000)},
      {"nothing", false, 200, std::chrono::milliseconds(190), std::chrono::milliseconds(5000)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QCoreApplication::processEvents();  // nothing left over from before
    std::atomic<bool> ran{false};
    std::thread poster;
    if (c.post)
      poster = std::thread([&ran] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        QtCommDispatcher().Post([&ran] { ran = true; });
      });
    const auto t0 = Clock::now();
    QtPump().Sleep(c.sleepMs);
    const auto took = Clock::now() - t0;
    if (poster.joinable()) poster.join();
    QtPump().ProcessMessages();
    EXPECT_GE(took, c.atLeast);
    EXPECT_LT(took, c.below);
    EXPECT_EQ(ran.load(), c.post);
  }
}


// A flooded line while the program is busy: what cannot wait is dropped, and the error log
// gets one line for all of it.
TEST_F(Service, FloodWhileBusyGivesOneErrorLine) {
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  Make(std::string("[CommSet]\nCommNo=") + name + "\n");  // the start sequence gets no answers
  ASSERT_TRUE(svc->tmrCheck->isActive());
  svc->tmrCheck->stop();  // no polling loop: this thread stays the test's
  bool hungUp = false;
  svc->cmPDA.OnRequestHangup = [&hungUp](TComm*) { hungUp = true; };

  // Busy: the main thread writes 8 MB and handles nothing meanwhile.
  const std::string flood(8u << 20, 'x');
  for (size_t done = 0; done < flood.size();) {
    const ssize_t n = ::write(master, flood.data() + done, flood.size() - done);
    ASSERT_GT(n, 0);
    done += static_cast<size_t>(n);
  }
  // The far end goes: the hangup is the last thing the read thread posts.
  ::close(master);
  for (int i = 0; i < 100000 && !hungUp; ++i)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  ASSERT_TRUE(hungUp);
  const std::string errLog = Slurp("ResultErr.txt");
  int lines = 0;
  for (size_t at = errLog.find("dropped"); at != std::string::npos; at = errLog.find("dropped", at + 1))
    ++lines;
  EXPECT_EQ(lines, 1) << errLog;
  svc.reset();
  ::close(slave);
}

// The port library is code: it comes from the program's own directory or the
// installation's library directory beside it, never from the data directory, which the
// service's user can write.
TEST_F(Service, PortLibraryComesFromTheProgramNotTheDataDirectory) {
  namespace fs = std::filesystem;
  fs::create_directories(Path("opt/bin"));
  fs::create_directories(Path("opt/lib"));
  SetExecutablePath(Path("opt/bin/quorvex"));
  fs::copy_file(QV_TEST_EXTRARES, Path("libextrares.so"));
  EXPECT_EQ(GetExtComPort(), -1) << "loaded from the data directory";
  Make();  // CommNo names another port
  EXPECT_EQ(svc->cmPDA.CommName(), "/nonexistent/qv-tty");
  svc.reset();

  fs::copy_file(QV_TEST_EXTRARES, Path("opt/lib/libextrares.so"));
  EXPECT_EQ(GetExtComPort(), 77) << "the installation's library directory";
  fs::copy_file(QV_TEST_EXTRARES_NOEXPORT, Path("opt/bin/libextrares.so"));
  EXPECT_EQ(GetExtComPort(), -1) << "the program's directory comes first; this one has no export";
  fs::remove(Path("opt/bin/libextrares.so"));
  fs::copy_file(QV_TEST_EXTRARES, Path("opt/bin/libextrares.so"));
  fs::remove(Path("opt/lib/libextrares.so"));
  EXPECT_EQ(GetExtComPort(), 77) << "the program's directory";
  Make();
  EXPECT_EQ(svc->cmPDA.CommName(), "//./COM77");
  EXPECT_EQ(svc->cmPDA.BaudRate(), 115200u);
}

TEST_F(Service, NetworkErrorDropsTheLink) {
  Make();
  db.linked = true;
  svc->aplctnvnts1Exception("Some other failure");
  EXPECT_TRUE(db.linked);
  svc->aplctnvnts1Exception("[DBNETLIB][ConnectionWrite (send()).]一般性网络错误。请检查网络文档。");
  EXPECT_FALSE(db.linked);
}

}  // namespace
}  // namespace qv::test

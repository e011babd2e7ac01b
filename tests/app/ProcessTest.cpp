// The program itself: quorvex started as a process against qv-sim on a pseudo-terminal and the
// demo database (QV_TEST_PG), stopped by signals the way systemd and Ctrl-C stop it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "DemoDb.h"
#include "PgFixture.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using qv::test::TChild;

// Relays a database server's Unix socket from a directory of its own, and can be switched on
// later: until then the server looks down to whoever connects there.
class TSocketRelay {
 public:
  TSocketRelay(std::string dir, std::string target) : dir_(std::move(dir)), target_(std::move(target)) {}
  ~TSocketRelay() {
    stop_ = true;
    if (accepter_.joinable()) accepter_.join();
    for (std::thread& t : pumps_) t.join();
    if (listen_ >= 0) close(listen_);
  }
  bool Up() {
    listen_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un a = Addr(dir_ + "/.s.PGSQL.5432");
    if (bind(listen_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(listen_, 16) != 0)
      return false;
    accepter_ = std::thread([this] { Accept(); });
    return true;
  }

 private:
  static sockaddr_un Addr(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    return a;
  }
  void Accept() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const int in = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (in < 0) continue;
      const int out = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const sockaddr_un a = Addr(target_);
      if (connect(out, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        close(in);
        close(out);
        continue;
      }
      pumps_.emplace_back([this, in, out] { Pump(in, out); });
    }
  }
  void Pump(int a, int b) {
    pollfd p[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
    char buf[8192];
    while (!stop_) {
      if (poll(p, 2, 50) <= 0) continue;
      bool done = false;
      for (int i = 0; i < 2 && !done; ++i) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = read(p[i].fd, buf, sizeof buf);
        done = n <= 0 || write(p[1 - i].fd, buf, static_cast<std::size_t>(n)) != n;
      }
      if (done) break;
    }
    close(a);
    close(b);
  }

  std::string dir_, target_;
  int listen_ = -1;
  std::atomic<bool> stop_{false};
  std::thread accepter_;
  std::vector<std::thread> pumps_;
};

std::string PgSocketDir(const std::string& conn) {
  const std::size_t at = conn.find("host=");
  if (at == std::string::npos) return {};
  const std::size_t end = conn.find(' ', at);
  return conn.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5);
}

// One waiter logging in again and again.
constexpr const char* kLoginLoop =
    "station 1001\nversion V1.0\nchannel 3\nretries 0\n"
    "terminal 11 ordering password 0\n"
    "request RT-LOGIN cCorpCode=0001 cDevCode=PDA11 cUserCode=003 cUserPsw=123\n";

class ServiceProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qv-proc.XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home = tmpl;
    const char* pg = std::getenv("QV_TEST_PG");
    conn = pg ? pg : "";
  }
  void TearDown() override {
    sim.reset();
    fs::remove_all(home);
  }

  // Starts the simulator on a fresh pseudo-terminal; returns its path. With events, its log
  // (faults, requests done) is read with its output.
  std::string StartSim(const std::string& script, bool events = false) {
    const std::string file = home + "/sim.txt";
    std::ofstream(file) << script;
    sim = std::make_unique<TChild>(std::vector<std::string>{QV_SIM, "--loop", "--quiet", file},
                                   std::vector<std::string>{}, events);
    if (!sim->Started()) return {};
    const auto first = sim->WaitFor("PTY ", 10s);
    return first ? first->substr(4) : std::string();
  }
  void WriteIni(const std::string& port, const std::string& connstring, const std::string& sysSet = "",
                int serverType = 0) {
    std::ofstream(home + "/datalink.ini", std::ios::binary)
        << "[SysSet]\r\nSYS_SERVER_TYPE=" << serverType << "\r\nWriteCommLog=1\r\n"
        << sysSet << "[CommSet]\r\nCommNo=" << port
        << "\r\nChannelNo=3\r\n[ConnectionString]\r\nconnstring=" << connstring << "\r\n";
    std::ofstream(home + "/POSLIST.BAT", std::ios::binary) << "11\r\n";
  }
  // runtimeDir "": no XDG_RUNTIME_DIR at all.
  std::unique_ptr<TChild> StartService(bool headless, const std::string& runtimeDir,
                                       const std::string& platform = "offscreen") {
    std::vector<std::string> argv{QV_QUORVEX};
    if (headless) argv.push_back("--headless");
    return std::make_unique<TChild>(
        argv,
        std::vector<std::string>{"QUORVEX_HOME=" + home,
                                 runtimeDir.empty() ? "XDG_RUNTIME_DIR" : "XDG_RUNTIME_DIR=" + runtimeDir,
                                 "QT_QPA_PLATFORM=" + platform},
        true);
  }
  std::unique_ptr<TChild> StartService(bool headless) { return StartService(headless, home); }
  std::string ErrLog() const {
    std::ifstream in(home + "/ResultErr.txt", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::string home, conn;
  std::unique_ptr<TChild> sim;
};

constexpr auto kServe = 20s;  // start-up, the base-station sequence and a first login
constexpr auto kStop = 10s;

bool IsLoginOk(const std::string& l) {
  return l.rfind("0011\t", 0) == 0 && l.find("登陆") != std::string::npos &&
         l.find("返回OK") != std::string::npos;
}

TEST_F(ServiceProcess, HeadlessServesAndStopsCleanlyOnEitherSignal) {
  if (conn.empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
  for (const auto& [signo, name] :
       {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGINT, "SIGINT"}, std::pair{SIGHUP, "SIGHUP"}}) {
    SCOPED_TRACE(name);
    const std::string pty = StartSim(kLoginLoop);
    ASSERT_FALSE(pty.empty());
    WriteIni(pty, conn);
    auto svc = StartService(true);
    ASSERT_TRUE(svc->Started());
    EXPECT_TRUE(svc->WaitFor("服务正常启动", kServe)) << svc->Output();
    EXPECT_TRUE(svc->WaitLine(IsLoginOk, kServe)) << svc->Output();

    svc->Signal(signo);
    EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0)) << svc->Output();
    const std::string& out = svc->Output();
    const std::size_t received = out.find(std::string("quorvex: ") + name + " received, stopping");
    ASSERT_NE(received, std::string::npos) << out;
    EXPECT_NE(out.find("关闭串口成功!", received), std::string::npos) << "the port is closed on the way out\n"
                                                                      << out;
    // The day's request log is on disk by the time the program has gone.
    bool logged = false;
    for (const auto& e : fs::directory_iterator(home + "/Log")) logged |= fs::file_size(e.path()) > 0;
    EXPECT_TRUE(logged);
    fs::remove_all(home + "/Log");
    sim.reset();
  }
}

// A terminal that falls silent in the middle of an exchange: the service waits for it (6 s
// ordering, 30 s stocktaking) unless stopped; a signal ends that wait at once, the exchange
// ends as a time-out would (its row, nothing reported done), and the program exits, status 0.
TEST_F(ServiceProcess, SignalDuringASilentTerminalsExchangeEndsWithinASecond) {
  if (conn.empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
  // The terminal's third answer is lost: after its poll answer and its request, the
  // acknowledgement of a read's answer or an upload's next data frame.
  const struct {
    const char* name;
    int serverType;
    const char* script;
  } cases[] = {
      {"ordering read", 0,
       "terminal 11 ordering password 0\nfault drop:every=3\n"
       "request RT-LOGIN cCorpCode=0001 cDevCode=PDA11 cUserCode=003 cUserPsw=123\n"},
      {"ordering upload", 0,
       "terminal 11 ordering password 0\nfault drop:every=3\n"
       "request RT-MEMU cTableNo=A01 cOpCode=003 cMemo=\"x\"\n"
       "dish cDishCode=10001 cDishName=\"d\" cUnit=u fQty=1 fPrice=28.00\n"},
      {"stocktaking read", 1, "terminal 11 stocktaking password 0\nfault drop:every=3\nrequest R-BATCH\n"},
      {"stocktaking upload", 1,
       "terminal 11 stocktaking password 0\nfault drop:every=3\n"
       "request W-PDSTORE cBillNO=PD2026120102 cSupplyCode=S01\n"
       "item cStrCode=G00030 fQty=1 fPrice=1\nitem cStrCode=G00031 fQty=1 fPrice=1\n"
       "item cStrCode=G00032 fQty=1 fPrice=1\nitem cStrCode=G00033 fQty=1 fPrice=1\n"
       "item cStrCode=G00034 fQty=1 fPrice=1\n"},
  };
  const std::string demo = qv::test::PrivateDemoConnStr();  // the uploads add rows
  for (const auto& c : cases) {
    for (const auto& [signo, signame] : {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGINT, "SIGINT"}}) {
      SCOPED_TRACE(std::string(c.name) + ", " + signame);
      const std::string pty =
          StartSim(std::string("station 1001\nversion V1.0\nchannel 3\nretries 0\n") + c.script, true);
      ASSERT_FALSE(pty.empty());
      WriteIni(pty, demo, "ShopNO=001\r\n", c.serverType);
      auto svc = StartService(true);
      ASSERT_TRUE(svc->Started());
      ASSERT_TRUE(svc->WaitFor("服务正常启动", kServe)) << svc->Output();
      ASSERT_TRUE(sim->WaitFor("fault drop at terminal 11", kServe)) << sim->Output();
      std::this_thread::sleep_for(100ms);  // the service is waiting now
      const std::size_t before = svc->Output().size();
      const auto signalled = Clock::now();
      svc->Signal(signo);
      const std::optional<int> status = svc->WaitExit(kStop);
      const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled);
      EXPECT_EQ(status, std::optional<int>(0)) << svc->Output();
      EXPECT_LE(took.count(), 1500) << svc->Output();
      // The exchange ends as on a time-out: the terminal gives up on its own, so no row
      // reports it, done or failed.
      const std::string after = svc->Output().substr(before);
      const std::string no = c.serverType == 0 ? "0011\t" : "11\t";  // four digits when ordering
      std::istringstream lines(after);
      for (std::string l; std::getline(lines, l);) EXPECT_NE(l.rfind(no, 0), 0u) << l;
      EXPECT_NE(after.find("关闭串口成功!"), std::string::npos) << after;
      sim.reset();
    }
  }
}

// The debug trace of a login shows no password, and no log is readable by everybody.
TEST_F(ServiceProcess, LogsKeepPasswordsAndOtherUsersOut) {
  if (conn.empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
  const std::string pty = StartSim(kLoginLoop);
  ASSERT_FALSE(pty.empty());
  WriteIni(pty, conn, "writeResult=1\r\n");
  const mode_t savedMask = umask(022);
  auto svc = StartService(true);
  umask(savedMask);
  ASSERT_TRUE(svc->Started());
  EXPECT_TRUE(svc->WaitLine(IsLoginOk, kServe)) << svc->Output();
  svc->Signal(SIGTERM);
  EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0)) << svc->Output();

  std::ifstream in(home + "/Result.txt", std::ios::binary);
  const std::string trace((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(trace.find("pDataStr=\"0001\",\"PDA11\",\"003\",\"***\""), std::string::npos)
      << trace.substr(0, 2000);
  EXPECT_EQ(trace.find("\"123\""), std::string::npos) << "the waiter's password is in the trace";
  std::vector<fs::path> logs{home + "/Result.txt"};
  for (const auto& e : fs::directory_iterator(home + "/Log")) logs.push_back(e.path());
  for (const fs::path& p : logs)
    EXPECT_EQ(fs::status(p).permissions() & fs::perms::others_all, fs::perms::none) << p;
}

TEST_F(ServiceProcess, WindowEndsOnSigtermWithoutAsking) {
  if (conn.empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
  const std::string pty = StartSim(kLoginLoop);
  ASSERT_FALSE(pty.empty());
  WriteIni(pty, conn);
  auto svc = StartService(false);
  ASSERT_TRUE(svc->Started());
  // The window prints nothing; the request log shows it serving.
  const auto end = Clock::now() + kServe;
  bool serving = false;
  while (!serving && Clock::now() < end) {
    std::this_thread::sleep_for(100ms);
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(home + "/Log", ec)) serving |= fs::file_size(e.path()) > 0;
  }
  ASSERT_TRUE(serving);
  svc->Signal(SIGTERM);
  // A confirmation box would block here until the time-out.
  EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0)) << svc->Output();
}

TEST_F(ServiceProcess, PortThatCannotOpenIsReportedAndTheProgramStillStops) {
  WriteIni(home + "/no-such-port", "host=" + home + "/no-server dbname=demo user=postgres");
  auto svc = StartService(true);
  ASSERT_TRUE(svc->Started());
  EXPECT_TRUE(svc->WaitFor("串口打开失败、请核对串口是否有效或已占用!-1", kServe)) << svc->Output();

  // A second copy ends at once and says which copy holds the lock.
  auto second = StartService(true);
  EXPECT_EQ(second->WaitExit(kStop), std::optional<int>(0));
  EXPECT_NE(second->Output().find("another copy (PID " + std::to_string(svc->Pid()) + ")"), std::string::npos)
      << second->Output();
  EXPECT_EQ(second->Output().find("串口"), std::string::npos) << "the second copy started a service";

  svc->Signal(SIGTERM);
  EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0)) << svc->Output();
  EXPECT_EQ(svc->Output().find("关闭串口成功!"), std::string::npos) << "nothing was open";
}

// Without a window there is no display platform to load: a platform that does not exist
// would end a program that asks for one at once.
TEST_F(ServiceProcess, HeadlessLoadsNoDisplayPlatform) {
  WriteIni(home + "/no-such-port", "host=" + home + "/no-server dbname=demo user=postgres");
  auto svc = StartService(true, home, "no-such-platform");
  ASSERT_TRUE(svc->Started());
  EXPECT_TRUE(svc->WaitFor("串口打开失败、请核对串口是否有效或已占用!-1", kServe)) << svc->Output();
  svc->Signal(SIGTERM);
  EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0)) << svc->Output();
  EXPECT_EQ(svc->Output().find("platform plugin"), std::string::npos) << svc->Output();
}

// Without a runtime directory the lock is a private file of the data directory; a second
// copy says so on standard error and in the error log, with the first one's PID.
TEST_F(ServiceProcess, WithoutARuntimeDirectoryTheLockIsInTheDataDirectory) {
  WriteIni(home + "/no-such-port", "host=" + home + "/no-server dbname=demo user=postgres");
  auto svc = StartService(true, "");
  ASSERT_TRUE(svc->Started());
  ASSERT_TRUE(svc->WaitFor("串口打开失败", kServe)) << svc->Output();
  struct stat st {};
  ASSERT_EQ(lstat((home + "/Quorvex.lock").c_str(), &st), 0) << "no lock in the data directory";
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  auto second = StartService(true, "");
  EXPECT_EQ(second->WaitExit(kStop), std::optional<int>(0));
  const std::string pid = "(PID " + std::to_string(svc->Pid()) + ")";
  EXPECT_NE(second->Output().find(pid), std::string::npos) << second->Output();
  EXPECT_NE(ErrLog().find(pid), std::string::npos) << ErrLog();
  svc->Signal(SIGTERM);
  EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0)) << svc->Output();
}

// A signal while the start sequence still waits for the base station (it pumps events
// then) is kept until the program can act on it.
TEST_F(ServiceProcess, SignalDuringTheStartSequenceIsNotLost) {
  // A base station that never answers: each of its three commands waits out its time.
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string slave = ptsname(master);
  WriteIni(slave, "host=" + home + "/no-server dbname=demo user=postgres");
  auto svc = StartService(true);
  ASSERT_TRUE(svc->Started());
  // The first base-station command on the line: the program is inside the sequence now.
  pollfd p{master, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 20000), 1) << svc->Output();
  svc->Signal(SIGTERM);
  EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0)) << svc->Output();
  close(master);
}

// Once one signal has come, a second one of another kind (Ctrl-C after systemd's SIGTERM)
// ends the program at once instead of queueing behind the first. The start sequence holds
// the first one back (a base station that never answers), which shows it.
TEST_F(ServiceProcess, ASecondSignalOfAnotherKindEndsAtOnce) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  WriteIni(ptsname(master), "host=" + home + "/no-server dbname=demo user=postgres");
  auto svc = StartService(true);
  ASSERT_TRUE(svc->Started());
  pollfd p{master, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 20000), 1) << svc->Output();
  svc->Signal(SIGTERM);
  svc->Signal(SIGINT);
  const std::optional<int> rc = svc->WaitExit(kStop);
  ASSERT_TRUE(rc.has_value());
  EXPECT_TRUE(*rc == -SIGINT || *rc == -SIGTERM) << "status " << *rc << ": the second signal was held back\n"
                                                 << svc->Output();
  close(master);
}

// Values of datalink.ini that the program cannot take keep their defaults, each with one
// warning line on standard error and in the error log.
TEST_F(ServiceProcess, SettingsNotUnderstoodAreWarnedOnce) {
  std::ofstream(home + "/datalink.ini", std::ios::binary)
      << "[SysSet]\r\nSYS_SERVER_TYPE=zero\r\n[CommSet]\r\nCommNo=" << home << "/no-such-port\r\n"
      << "ChannelNo=three\r\nthis is no setting\r\n[ConnectionString]\r\nconnstring=host=" << home
      << "/no-server dbname=demo\r\n";
  auto svc = StartService(true);
  ASSERT_TRUE(svc->Started());
  ASSERT_TRUE(svc->WaitFor("串口打开失败", kServe)) << svc->Output();
  svc->Signal(SIGTERM);
  EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0)) << svc->Output();
  const std::string errLog = ErrLog();
  for (const char* part :
       {"SYS_SERVER_TYPE=zero is not a number; 1 is used", "ChannelNo=three is not a number; 0 is used",
        "line 6 is not understood: this is no setting"}) {
    auto count = [&](const std::string& text) {
      int n = 0;
      for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
      return n;
    };
    EXPECT_EQ(count(svc->Output()), 1) << part << "\n" << svc->Output();
    EXPECT_EQ(count(errLog), 1) << part << "\n" << errLog;
  }
}

// The database is down when the service starts; once it is up, the first login finds the
// link down and checks it at once (without waiting for the 30-s link timer), the link is
// shown as up, and the same terminal's logins succeed.
TEST_F(ServiceProcess, DatabaseDownAtStartThenUp) {
  if (conn.empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
  const std::string server = PgSocketDir(conn);
  ASSERT_FALSE(server.empty()) << "a socket-directory connection string is expected: " << conn;
  const std::string relayDir = home + "/db";
  fs::create_directory(relayDir);
  TSocketRelay relay(relayDir, server + "/.s.PGSQL.5432");

  const std::string pty = StartSim(kLoginLoop);
  ASSERT_FALSE(pty.empty());
  std::string relayed = conn;
  relayed.replace(relayed.find(server), server.size(), relayDir);
  WriteIni(pty, relayed);
  auto svc = StartService(true);
  ASSERT_TRUE(svc->Started());
  const auto refused = svc->WaitLine(
      [](const std::string& l) {
        return l.rfind("0011\t登陆\t", 0) == 0 && l.find("返回OK") == std::string::npos;
      },
      kServe);
  ASSERT_TRUE(refused) << "a login is answered, not served, while the database is down\n" << svc->Output();
  EXPECT_NE(svc->Output().find("数据库连接 断开\n"), std::string::npos) << svc->Output();

  ASSERT_TRUE(relay.Up());
  EXPECT_TRUE(svc->WaitFor("数据库连接 正常", 45s)) << svc->Output();
  EXPECT_TRUE(svc->WaitLine(IsLoginOk, kServe)) << svc->Output();
  svc->Signal(SIGTERM);
  EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0));
}

// A login whose procedure takes 4 s, with the program as it runs at a shop: the terminal hears
// "WT" every 1,500 ms until its answer. A SIGTERM during such a call gives it up on the server
// (the procedure's own row never gets written) and the program ends with status 0.
TEST_F(ServiceProcess, SlowProcedureKeepsTheTerminalWaitingAndAStopCancelsIt) {
  if (conn.empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
  qv::test::TDemoDb demo;  // a private copy: the slow procedure is never the shared database's
  qv::test::TSlowProcedure slow(demo, "MT_Ins_User_Login", 4);
  const std::string db = qv::test::PrivateDemoConnStr();
  auto logins = [&demo] { return std::stoi(demo.Scalar("select count(*) from login_log")); };
  const struct {
    const char* name;
    bool stop;
  } cases[] = {{"answered", false}, {"stopped by SIGTERM", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string script = home + "/sim.txt", simLog = home + "/sim.log";
    std::ofstream(script) << kLoginLoop;
    fs::remove(simLog);
    sim = std::make_unique<TChild>(std::vector<std::string>{QV_SIM, "--loop", "--log", simLog, script},
                                   std::vector<std::string>{});
    ASSERT_TRUE(sim->Started());
    const auto first = sim->WaitFor("PTY ", 10s);
    ASSERT_TRUE(first);
    WriteIni(first->substr(4), db);
    const int before = logins();
    auto svc = StartService(true);
    ASSERT_TRUE(svc->Started());
    ASSERT_TRUE(svc->WaitFor("服务正常启动", kServe)) << svc->Output();

    // The frames the PC sent after the first grant, as the terminal heard them.
    auto afterGrant = [&simLog] {
      std::ifstream in(simLog);
      std::vector<std::string> heard;
      bool granted = false;
      for (std::string l; std::getline(in, l);) {
        if (l.find(" <- PC ") == std::string::npos) continue;
        const std::string meaning = l.substr(l.find("| ") + 2);
        if (!granted) {
          granted = meaning.rfind("grant", 0) == 0;
          continue;
        }
        heard.push_back(meaning);
      }
      return heard;
    };
    auto waits = [](const std::vector<std::string>& heard, size_t upTo) {
      int n = 0;
      for (size_t i = 0; i < upTo && i < heard.size(); ++i) n += heard[i].rfind("WT", 0) == 0;
      return n;
    };
    if (!c.stop) {
      ASSERT_TRUE(svc->WaitLine(IsLoginOk, kServe)) << svc->Output();
      const std::vector<std::string> heard = afterGrant();
      size_t answer = 0;
      while (answer < heard.size() && heard[answer].rfind("OK", 0) != 0) ++answer;
      ASSERT_LT(answer, heard.size()) << "no answer";
      const int wt = waits(heard, answer);
      EXPECT_GE(wt, 2);
      EXPECT_LE(wt, 3);
      EXPECT_EQ(wt, static_cast<int>(answer)) << "only keep-alives before the answer: " << heard[0];
      EXPECT_EQ(logins(), before + 1);
    } else {
      const auto until = Clock::now() + kServe;
      while (waits(afterGrant(), 100) == 0 && Clock::now() < until) svc->Drain(50ms);
      ASSERT_EQ(waits(afterGrant(), 100), 1) << "the call should be 1.5 s in";
      svc->Signal(SIGTERM);
      EXPECT_EQ(svc->WaitExit(kStop), std::optional<int>(0)) << svc->Output();
      EXPECT_EQ(logins(), before) << "the procedure ran to its end";
      EXPECT_NE(ErrLog().find("cancelled"), std::string::npos) << ErrLog();
      EXPECT_EQ(svc->Output().find("返回OK"), std::string::npos) << svc->Output();
    }
    svc->Signal(SIGTERM);
    svc->WaitExit(kStop);
    sim.reset();
  }
}

}  // namespace

// The command line is read before anything starts: --help and --version leave no lock and
// no log behind, a wrong option or a missing display ends in one line with status 2.
TEST_F(ServiceProcess, CommandLineAnswersBeforeAnythingStarts) {
  const std::vector<std::string> noDisplay{"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  struct Case {
    std::vector<std::string> args;
    bool display;
    int status;
    std::string says;
  } cases[] = {
      {{"--help"}, false, 0, "--home <DIR>"},
      {{"--help"}, false, 0, "--trace <FILE>"},
      {{"--trace", ""}, true, 2, "quorvex: --trace needs a file\nTry 'quorvex --help'"},
      {{"--version"}, false, 0, std::string("quorvex ") + QV_VERSION + "\n"},
      {{"--frobnicate"}, true, 2, "quorvex: Unknown option 'frobnicate'.\nTry 'quorvex --help'"},
      {{"--headless", "extra"}, true, 2, "unexpected argument 'extra'"},
      {{}, false, 2, "quorvex: no display to show the window on; use --headless to run without one\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args[0]);
    std::vector<std::string> argv{QV_QUORVEX};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::vector<std::string> env{"QUORVEX_HOME=" + home, "XDG_RUNTIME_DIR=" + home};
    if (c.display)
      env.push_back("QT_QPA_PLATFORM=offscreen");
    else
      env.insert(env.end(), noDisplay.begin(), noDisplay.end());
    TChild child(argv, env, true);
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.WaitExit(kStop), std::optional<int>(c.status)) << child.Output();
    EXPECT_NE(child.Output().find(c.says), std::string::npos) << child.Output();
    EXPECT_EQ(child.Output().find("core dumped"), std::string::npos) << child.Output();
    EXPECT_TRUE(fs::is_empty(home)) << "a file was written";
  }
}

// --trace FILE: the frames both ways and the port's events go into FILE, whatever the
// settings say; the simulator's waiter logs in (the database is down: the answer is "ER").
TEST_F(ServiceProcess, TraceOptionWritesTheFramesBothWays) {
  const std::string pty = StartSim(kLoginLoop);
  ASSERT_FALSE(pty.empty());
  WriteIni(pty, "host=" + home + "/no-server dbname=demo user=postgres");
  const std::string file = home + "/field-trace.txt";
  TChild svc({QV_QUORVEX, "--headless", "--trace", file},
             {"QUORVEX_HOME=" + home, "XDG_RUNTIME_DIR=" + home, "QT_QPA_PLATFORM=offscreen"}, true);
  ASSERT_TRUE(svc.Started());
  const auto slurp = [&file] {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  };
  const auto deadline = Clock::now() + kServe;
  while (slurp().find("request RT-LOGIN") == std::string::npos && Clock::now() < deadline) svc.Drain(100ms);
  svc.Signal(SIGTERM);
  EXPECT_EQ(svc.WaitExit(kStop), std::optional<int>(0)) << svc.Output();
  const std::string trace = slurp();
  for (const std::string& part :
       {" port: " + pty + " opened at 115200 baud\r\n", std::string(" PC -> AF AF "), std::string(" PC <- AF AF "),
        std::string("  | poll to every terminal\r\n"), std::string("  | request RT-LOGIN "),
        std::string("  | ER to terminal 11, code "), " port: " + pty + " closed\r\n"})
    EXPECT_NE(trace.find(part), std::string::npos) << part << "\n" << trace.substr(0, 3000);
  EXPECT_FALSE(fs::exists(home + "/Trace.txt"));
}

// A trace file that cannot be opened: one warning, the same line in the error log, and the
// service runs and stops as ever.
TEST_F(ServiceProcess, TraceThatCannotBeOpenedIsSaidAndTheServiceRuns) {
  WriteIni(home + "/no-such-port", "host=" + home + "/no-server dbname=demo user=postgres");
  const std::string file = home + "/no-such-dir/trace.txt";
  TChild svc({QV_QUORVEX, "--headless", "--trace", file},
             {"QUORVEX_HOME=" + home, "XDG_RUNTIME_DIR=" + home, "QT_QPA_PLATFORM=offscreen"}, true);
  ASSERT_TRUE(svc.Started());
  const std::string problem = "the frame trace " + file + " cannot be opened (No such file or directory)";
  EXPECT_TRUE(svc.WaitFor("quorvex: warning: " + problem + "; no trace is written", kServe)) << svc.Output();
  EXPECT_TRUE(svc.WaitFor("串口打开失败、请核对串口是否有效或已占用!-1", kServe)) << svc.Output();
  svc.Signal(SIGTERM);
  EXPECT_EQ(svc.WaitExit(kStop), std::optional<int>(0)) << svc.Output();
  EXPECT_NE(ErrLog().find("FrameTrace: " + problem), std::string::npos) << ErrLog();
}

// --home DIR stands for QUORVEX_HOME: the settings and the lock come from DIR.
TEST_F(ServiceProcess, HomeOptionPicksTheDataDirectory) {
  WriteIni(home + "/no-such-port", "host=" + home + "/no-server dbname=demo user=postgres");
  TChild svc({QV_QUORVEX, "--headless", "--home", home}, {"QUORVEX_HOME", "XDG_RUNTIME_DIR"}, true);
  ASSERT_TRUE(svc.Started());
  EXPECT_TRUE(svc.WaitFor("串口打开失败、请核对串口是否有效或已占用!-1", kServe)) << svc.Output();
  EXPECT_TRUE(fs::exists(home + "/Quorvex.lock"));
  svc.Signal(SIGTERM);
  EXPECT_EQ(svc.WaitExit(kStop), std::optional<int>(0)) << svc.Output();
}

// quorvex --check against a database: the demo database has everything, a copy with one
// procedure dropped and one parameter renamed names both, an unreachable server says why.
class DatabaseCheck : public ServiceProcess {
 protected:
  std::unique_ptr<TChild> RunCheck(const std::string& connstring) {
    WriteIni(home + "/no-such-port", connstring);
    return std::make_unique<TChild>(
        std::vector<std::string>{QV_QUORVEX, "--check"},
        std::vector<std::string>{"QUORVEX_HOME=" + home, "XDG_RUNTIME_DIR=" + home, "DISPLAY",
                                 "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"},
        true);
  }
};

TEST_F(DatabaseCheck, DemoDatabaseHasEveryProcedure) {
  if (conn.empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
  auto check = RunCheck(conn);
  EXPECT_EQ(check->WaitExit(kServe), std::optional<int>(0)) << check->Output();
  const std::string& out = check->Output();
  EXPECT_NE(out.find("MT_Ins_User_Login: ok (columns not checked)\n"), std::string::npos) << out;
  EXPECT_NE(out.find("pda_bat_bill_inf: ok\n"), std::string::npos) << out;
  EXPECT_NE(out.find("37 procedures checked: 37 ok, 0 with problems\n"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(home + "/Quorvex.lock")) << "the check takes no lock";
}

TEST_F(DatabaseCheck, MissingProcedureAndRenamedParameterAreNamed) {
  if (conn.empty()) GTEST_SKIP() << "QV_TEST_PG is not set";
  const std::string copy = qv::test::PrivateDemoConnStr();
  ASSERT_NE(copy, conn) << "needs a keyword connection string for a private copy";
  qv::test::SqlSession sql(copy);
  sql.Exec("DROP PROCEDURE \"MT_Get_Disc_Plan\"");
  std::string def =
      sql.Scalar("select pg_get_functiondef(p.oid) from pg_proc p where p.proname = 'MT_Ins_User_Login'");
  ASSERT_FALSE(def.empty());
  for (std::size_t at; (at = def.find("\"@cUserPsw\"")) != std::string::npos;)
    def.replace(at, std::strlen("\"@cUserPsw\""), "\"@cPassword\"");
  sql.Exec("DROP PROCEDURE \"MT_Ins_User_Login\"");
  sql.Exec(def);

  auto check = RunCheck(copy);
  EXPECT_EQ(check->WaitExit(kServe), std::optional<int>(1)) << check->Output();
  const std::string& out = check->Output();
  for (const char* line : {"MT_Get_Disc_Plan: missing\n", "MT_Ins_User_Login: parameter @cUserPsw missing\n",
                           "MT_Ins_User_Login: extra parameter @cPassword\n", "MT_Get_Shop_Info: ok",
                           "37 procedures checked: 35 ok, 2 with problems\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
}

TEST_F(DatabaseCheck, UnreachableServerIsReportedInItsOwnWords) {
  auto check = RunCheck("host=" + home + "/no-server dbname=demo user=postgres");
  EXPECT_EQ(check->WaitExit(kServe), std::optional<int>(3)) << check->Output();
  const std::string& out = check->Output();
  EXPECT_EQ(out.rfind("cannot connect to the database: [PostgreSQL] cannot connect: ", 0), 0u) << out;
  EXPECT_NE(out.find(home + "/no-server/.s.PGSQL.5432\" failed: No such file or directory"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("procedures checked"), std::string::npos) << out;
}

// Prints what one exchange costs quorvex --headless under steady load: three ordering
// terminals (qv-sim on a pseudo-terminal) log in and ask for a bill again and again against
// the demo database, with the daily communication log on and off. After a settling time the
// service's CPU (utime + stime of /proc/PID/stat, and the run time of every thread from
// /proc/PID/task/*/schedstat) is read over the measuring time and divided by the exchanges
// served meanwhile: the operation-log rows the service prints for the load's terminals,
// checked against the requests the simulator logs as done.
//
// Usage: bench_load [quorvex] [connection string] [seconds] [runs] (defaults: the quorvex of
// this build, QV_TEST_PG, 20, 3). Each setting is measured runs times, alternating, and the
// median is printed after the single runs: on a shared machine one run can be off by a fifth. The database
// must hold the demo data (scripts/db-load). Any quorvex binary can be measured the same way, for instance
// one built from an earlier commit.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "ProcUsage.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using qv::test::ReadProcUsage;
using qv::test::TChild;
using qv::test::TProcUsage;

// Read exchanges only: a login and the bill of the table the demo data keeps open, so every
// round asks the same of the database and nothing grows.
constexpr const char* kScript =
    "station 1001\nversion V1.0\nchannel 3\nretries 0\n"
    "terminal 11 ordering password 0\n"
    "request RT-LOGIN cCorpCode=0001 cDevCode=PDA11 cUserCode=003 cUserPsw=123\n"
    "request RT-BILL cTableNo=A05 cOpCode=003\n"
    "terminal 12 ordering password 0\n"
    "request RT-LOGIN cCorpCode=0001 cDevCode=PDA12 cUserCode=004 cUserPsw=456\n"
    "request RT-BILL cTableNo=A05 cOpCode=004\n"
    "terminal 13 ordering password 0\n"
    "request RT-LOGIN cCorpCode=0001 cDevCode=PDA13 cUserCode=005 cUserPsw=789\n"
    "request RT-BILL cTableNo=A05 cOpCode=005\n";

struct TSample : TProcUsage {
  long simDone = 0;  // requests the simulator logged as done
  long simFailed = 0;
};

bool IsLoadRow(const std::string& line) {
  for (const char* t : {"0011\t", "0012\t", "0013\t"})
    if (line.rfind(t, 0) == 0) return true;
  return false;
}

// Reads the service's output for a while and returns the load's rows among it.
long ReadRows(TChild& svc, std::chrono::milliseconds during) {
  long n = 0;
  svc.WaitLine(
      [&n](const std::string& line) {
        if (IsLoadRow(line)) ++n;
        return false;
      },
      during);
  return n;
}

void CountSim(const std::string& logPath, long& done, long& failed) {
  std::ifstream f(logPath);
  std::string line;
  done = failed = 0;
  while (std::getline(f, line)) {
    if (line.find(" done") != std::string::npos && line.find(": RT-") != std::string::npos) ++done;
    if (line.find(" failed") != std::string::npos && line.find(": RT-") != std::string::npos) ++failed;
  }
}

TSample Sample(pid_t pid, const std::string& simLog) {
  TSample s;
  static_cast<TProcUsage&>(s) = ReadProcUsage(pid);
  CountSim(simLog, s.simDone, s.simFailed);
  return s;
}

// One run in a fresh program directory: the CPU per exchange in ms (utime + stime), or
// nullopt when it could not be measured.
std::optional<double> Measure(const std::string& quorvex, const std::string& conn, bool commLog,
                              int seconds) {
  char tmpl[] = "/tmp/qv-load.XXXXXX";
  if (!mkdtemp(tmpl)) return std::nullopt;
  const std::string home = tmpl;
  std::ofstream(home + "/sim.txt") << kScript;
  const std::string simLog = home + "/sim.log";
  std::optional<double> perExchange;
  {
    TChild sim({QV_SIM, "--loop", "--quiet", "--log", simLog, home + "/sim.txt"}, {});
    const auto first = sim.WaitFor("PTY ", 10s);
    if (!first) {
      std::fprintf(stderr, "bench_load: the simulator did not start\n");
    } else {
      std::ofstream(home + "/datalink.ini", std::ios::binary)
          << "[SysSet]\r\nSYS_SERVER_TYPE=0\r\nWriteCommLog=" << (commLog ? 1 : 0)
          << "\r\n[CommSet]\r\nCommNo=" << first->substr(4)
          << "\r\nChannelNo=3\r\n[ConnectionString]\r\nconnstring=" << conn << "\r\n";
      std::ofstream(home + "/POSLIST.BAT", std::ios::binary) << "11\r\n12\r\n13\r\n";
      TChild svc({quorvex, "--headless"}, {"QUORVEX_HOME=" + home, "XDG_RUNTIME_DIR=" + home});
      if (!svc.Started() || !svc.WaitFor("服务正常启动", 30s)) {
        std::fprintf(stderr, "bench_load: the service did not start\n");
      } else {
        ReadRows(svc, 3s);  // the database link, the pool's datasets and the first rounds settle
        const TSample a = Sample(svc.Pid(), simLog);
        const long n = ReadRows(svc, std::chrono::seconds(seconds));
        const TSample b = Sample(svc.Pid(), simLog);
        const double wall = std::chrono::duration<double>(b.at - a.at).count();
        const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
        const long simN = b.simDone - a.simDone;
        const long failed = b.simFailed - a.simFailed;
        if (n <= 0) {
          std::fprintf(stderr, "bench_load: no exchange was served\n");
        } else {
          std::printf(
              "WriteCommLog=%d %6.1f s  %6ld exchanges (simulator: %ld done, %ld failed)  %7.1f /s  "
              "CPU per exchange %6.3f ms (utime+stime)  %6.3f ms (run time)\n",
              commLog ? 1 : 0, wall, n, simN, failed, n / wall, (b.cpuTicks - a.cpuTicks) / tick * 1000.0 / n,
              (b.runNs - a.runNs) / 1e6 / n);
          perExchange = (b.cpuTicks - a.cpuTicks) / tick * 1000.0 / n;
        }
        if (std::getenv("QV_BENCH_KEEP")) std::fprintf(stderr, "bench_load: kept %s\n", home.c_str());
        svc.Signal(SIGTERM);
        if (svc.WaitExit(10s) != std::optional<int>(0)) {
          std::fprintf(stderr, "bench_load: the service did not end with status 0\n");
          perExchange.reset();
        }
      }
    }
  }
  if (!std::getenv("QV_BENCH_KEEP")) fs::remove_all(home);
  return perExchange;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string quorvex = argc > 1 ? argv[1] : QV_QUORVEX;
  const char* pg = std::getenv("QV_TEST_PG");
  const std::string conn = argc > 2 ? argv[2] : pg ? pg : "";
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 20;
  const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 3;
  if (conn.empty()) {
    std::fprintf(stderr, "bench_load: no connection string (argument or QV_TEST_PG)\n");
    return 2;
  }
  std::printf("%s --headless, three terminals logging in and reading a bill in a loop, %d s:\n",
              quorvex.c_str(), seconds);
  std::vector<double> on, off;
  for (int i = 0; i < runs; ++i) {
    for (bool commLog : {true, false}) {
      const auto ms = Measure(quorvex, conn, commLog, seconds);
      if (!ms) return 1;
      (commLog ? on : off).push_back(*ms);
    }
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  };
  std::printf("median of %d: CPU per exchange %.3f ms with WriteCommLog=1, %.3f ms with WriteCommLog=0\n",
              runs, median(on), median(off));
  return 0;
}

// Prints what an idle quorvex --headless costs: the service polls terminals that ask for
// nothing (qv-sim on a pseudo-terminal, a real database), in ordering and in stocktaking
// mode, and after a settling time its CPU (utime + stime of /proc/PID/stat, and the exact
// run time of every thread from /proc/PID/task/*/schedstat) and its voluntary context
// switches (the main thread's and all threads', /proc/PID/task/*/status) are read over the
// measuring time.
//
// Usage: bench_idle [quorvex] [connection string] [seconds] (defaults: the quorvex of this
// build, QV_TEST_PG, 20). Any quorvex binary can be measured the same way, for instance one
// built from an earlier commit.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

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

// One mode in a fresh program directory; false when it could not be measured.
bool Measure(const std::string& quorvex, const std::string& conn, int mode, int seconds) {
  char tmpl[] = "/tmp/qv-idle.XXXXXX";
  if (!mkdtemp(tmpl)) return false;
  const std::string home = tmpl;
  const char* kind = mode == 0 ? "ordering" : "stocktaking";
  std::ofstream(home + "/sim.txt") << "station 1001\nversion V1.0\nchannel 3\n";
  bool ok = false;
  {
    // A terminal without requests: polls go out and nothing is asked.
    TChild sim({QV_SIM, "--quiet", "--terminal", std::string("11:") + kind, home + "/sim.txt"}, {});
    const auto first = sim.WaitFor("PTY ", 10s);
    if (!first) {
      std::fprintf(stderr, "bench_idle: the simulator did not start\n");
    } else {
      std::ofstream(home + "/datalink.ini", std::ios::binary)
          << "[SysSet]\r\nSYS_SERVER_TYPE=" << mode << "\r\n[CommSet]\r\nCommNo=" << first->substr(4)
          << "\r\nChannelNo=3\r\n[ConnectionString]\r\nconnstring=" << conn << "\r\n";
      std::ofstream(home + "/POSLIST.BAT", std::ios::binary) << "11\r\n";
      TChild svc({quorvex, "--headless"}, {"QUORVEX_HOME=" + home, "XDG_RUNTIME_DIR=" + home});
      if (!svc.Started() || !svc.WaitFor("服务正常启动", 30s)) {
        std::fprintf(stderr, "bench_idle: the service did not start\n");
      } else {
        svc.Drain(2s);  // the database link and the first polls settle
        const TProcUsage a = ReadProcUsage(svc.Pid());
        svc.Drain(std::chrono::seconds(seconds));
        const TProcUsage b = ReadProcUsage(svc.Pid());
        const double wall = std::chrono::duration<double>(b.at - a.at).count();
        const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
        std::printf("%-12s %6.1f s  CPU %6.3f %% (utime+stime)  %6.3f %% (run time)  "
                    "voluntary switches/s %7.1f main thread, %7.1f all threads\n",
                    kind, wall, (b.cpuTicks - a.cpuTicks) / tick / wall * 100.0,
                    (b.runNs - a.runNs) / 1e9 / wall * 100.0,
                    static_cast<double>(b.mainSwitches - a.mainSwitches) / wall,
                    static_cast<double>(b.allSwitches - a.allSwitches) / wall);
        svc.Signal(SIGTERM);
        ok = svc.WaitExit(10s) == std::optional<int>(0);
        if (!ok) std::fprintf(stderr, "bench_idle: the service did not end with status 0\n");
      }
    }
  }
  fs::remove_all(home);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string quorvex = argc > 1 ? argv[1] : QV_QUORVEX;
  const char* pg = std::getenv("QV_TEST_PG");
  const std::string conn = argc > 2 ? argv[2] : pg ? pg : "";
  const int seconds = argc > 3 ? std::atoi(argv[3]) : 20;
  if (conn.empty()) {
    std::fprintf(stderr, "bench_idle: no connection string (argument or QV_TEST_PG)\n");
    return 2;
  }
  std::printf("%s --headless polling a terminal that asks for nothing, %d s, CPU in %% of one core:\n",
              quorvex.c_str(), seconds);
  for (int mode : {0, 1})
    if (!Measure(quorvex, conn, mode, seconds)) return 1;
  return 0;
}

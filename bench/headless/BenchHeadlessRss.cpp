// Prints the memory of a headless quorvex at rest: the program serves one login from
// qv-sim on a pseudo-terminal against a real database, then idles; after the idle time its
// VmRSS, VmHWM, RssAnon and RssFile are read from /proc/PID/status.
//
// Usage: bench_headless_rss [quorvex] [connection string] [idle seconds] [runs]
// (defaults: the quorvex of this build, QV_TEST_PG, 5, 3). Any quorvex binary can be
// measured the same way, for instance one built from an earlier commit.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"

namespace {

using namespace std::chrono_literals;

using qv::test::TChild;

// The kB figures of /proc/PID/status.
std::map<std::string, long> Status(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::map<std::string, long> values;
  std::string line;
  while (std::getline(f, line)) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::istringstream rest(line.substr(colon + 1));
    long v = 0;
    if (rest >> v) values[line.substr(0, colon)] = v;
  }
  return values;
}

constexpr const char* kScript =
    "station 1001\nversion V1.0\nchannel 3\nretries 0\n"
    "terminal 11 ordering password 0\n"
    "request RT-LOGIN cCorpCode=0001 cDevCode=PDA11 cUserCode=003 cUserPsw=123\n";

const char* const kFields[] = {"VmRSS", "VmHWM", "RssAnon", "RssFile", "Threads"};

}  // namespace

int main(int argc, char** argv) {
  const std::string quorvex = argc > 1 ? argv[1] : QV_QUORVEX;
  const char* pg = std::getenv("QV_TEST_PG");
  const std::string conn = argc > 2 ? argv[2] : pg ? pg : "";
  const int idle = argc > 3 ? std::atoi(argv[3]) : 5;
  const int runs = argc > 4 ? std::atoi(argv[4]) : 3;
  if (conn.empty()) {
    std::fprintf(stderr, "bench_headless_rss: no connection string (argument or QV_TEST_PG)\n");
    return 2;
  }
  std::printf("%s --headless, %d s idle after one login, kB:\n", quorvex.c_str(), idle);
  std::map<std::string, std::vector<long>> all;
  // One run in a fresh program directory; false when it could not be measured.
  auto measure = [&](const std::string& home, int run) {
    std::ofstream(home + "/sim.txt") << kScript;
    TChild sim({QV_SIM, "--quiet", home + "/sim.txt"}, {});
    const auto first = sim.WaitFor("PTY ", 10s);
    if (!first) {
      std::fprintf(stderr, "bench_headless_rss: the simulator did not start\n");
      return false;
    }
    std::ofstream(home + "/datalink.ini", std::ios::binary)
        << "[SysSet]\r\nSYS_SERVER_TYPE=0\r\n[CommSet]\r\nCommNo=" << first->substr(4)
        << "\r\nChannelNo=3\r\n[ConnectionString]\r\nconnstring=" << conn << "\r\n";
    std::ofstream(home + "/POSLIST.BAT", std::ios::binary) << "11\r\n";
    TChild svc({quorvex, "--headless"}, {"QUORVEX_HOME=" + home, "XDG_RUNTIME_DIR=" + home});
    if (!svc.Started() || !svc.WaitFor("服务正常启动", 30s) ||
        !svc.WaitLine(
            [](const std::string& l) {
              return l.find("0011\t") != std::string::npos && l.find("返回OK") != std::string::npos;
            },
            30s)) {
      std::fprintf(stderr, "bench_headless_rss: the service did not serve the login\n");
      return false;
    }
    svc.Drain(std::chrono::seconds(idle));
    const std::map<std::string, long> st = Status(svc.Pid());
    std::printf("run %d:", run);
    for (const char* f : kFields) {
      const auto it = st.find(f);
      const long v = it == st.end() ? -1 : it->second;
      all[f].push_back(v);
      std::printf(" %s %ld", f, v);
    }
    svc.Signal(SIGTERM);
    const std::optional<int> exit = svc.WaitExit(10s);
    std::printf(" (exit %d)\n", exit ? *exit : -999);
    return exit == std::optional<int>(0);
  };
  for (int run = 1; run <= runs; ++run) {
    char tmpl[] = "/tmp/qv-rss.XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    const bool ok = measure(tmpl, run);
    std::filesystem::remove_all(tmpl);
    if (!ok) return 1;
  }
  if (all.empty()) return 1;
  std::printf("median:");
  for (const char* f : kFields) {
    std::vector<long> v = all[f];
    std::sort(v.begin(), v.end());
    std::printf(" %s %ld", f, v[v.size() / 2]);
  }
  std::printf("\n");
  return 0;
}

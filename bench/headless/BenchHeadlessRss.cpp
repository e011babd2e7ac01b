// Prints the memory of a headless quorvex at rest: the program serves one login from
// qv-sim on a pseudo-terminal against a real database, then idles; after the idle time its
// VmRSS, VmHWM, RssAnon and RssFile are read from /proc/PID/status.
//
// Usage: bench_headless_rss [quorvex] [connection string] [idle seconds] [runs]
// (defaults: the quorvex of this build, QV_TEST_PG, 5, 3). Any quorvex binary can be
// measured the same way, for instance one built from an earlier commit.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
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

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A child process with its standard output on a pipe.
class TChild {
 public:
  TChild(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      if (const int null = open("/dev/null", O_WRONLY); null >= 0) dup2(null, STDERR_FILENO);
      for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~TChild() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;

  pid_t Pid() const { return pid_; }
  bool Started() const { return pid_ > 0 && out_ >= 0; }

  // Reads output until a line contains every part, or the time is up.
  std::optional<std::string> WaitFor(const std::vector<std::string>& parts,
                                     std::chrono::milliseconds within) {
    const auto end = Clock::now() + within;
    for (;;) {
      std::size_t nl;
      while ((nl = pending_.find('\n')) != std::string::npos) {
        const std::string line = pending_.substr(0, nl);
        pending_.erase(0, nl + 1);
        bool all = true;
        for (const std::string& p : parts) all = all && line.find(p) != std::string::npos;
        if (all) return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left <= 0ms || !ReadSome(left)) return std::nullopt;
    }
  }
  // Keeps the pipe drained for a while, so the child never blocks on a full pipe.
  void Drain(std::chrono::milliseconds during) {
    const auto end = Clock::now() + during;
    while (Clock::now() < end) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (!ReadSome(left)) std::this_thread::sleep_for(10ms);
      pending_.clear();
    }
  }
  std::optional<int> Stop(std::chrono::milliseconds within) {
    kill(pid_, SIGTERM);
    const auto end = Clock::now() + within;
    while (Clock::now() < end) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
      }
      Drain(20ms);
    }
    return std::nullopt;
  }

 private:
  bool ReadSome(std::chrono::milliseconds wait) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return false;
    char buf[4096];
    const ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    pending_.append(buf, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  std::string pending_;
};

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
    const auto first = sim.WaitFor({"PTY "}, 10s);
    if (!first) {
      std::fprintf(stderr, "bench_headless_rss: the simulator did not start\n");
      return false;
    }
    std::ofstream(home + "/datalink.ini", std::ios::binary)
        << "[SysSet]\r\nSYS_SERVER_TYPE=0\r\n[CommSet]\r\nCommNo=" << first->substr(4)
        << "\r\nChannelNo=3\r\n[ConnectionString]\r\nconnstring=" << conn << "\r\n";
    std::ofstream(home + "/POSLIST.BAT", std::ios::binary) << "11\r\n";
    TChild svc({quorvex, "--headless"}, {"QUORVEX_HOME=" + home, "XDG_RUNTIME_DIR=" + home});
    if (!svc.Started() || !svc.WaitFor({"服务正常启动"}, 30s) || !svc.WaitFor({"0011\t", "返回OK"}, 30s)) {
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
    const std::optional<int> exit = svc.Stop(10s);
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

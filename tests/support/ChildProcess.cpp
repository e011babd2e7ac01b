#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace qv::test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

TChild::TChild(const std::vector<std::string>& argv, const std::vector<std::string>& env, bool withStderr) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  pid_ = fork();
  if (pid_ == 0) {
    dup2(fds[1], STDOUT_FILENO);
    if (withStderr) {
      dup2(fds[1], STDERR_FILENO);
    } else if (const int null = open("/dev/null", O_WRONLY); null >= 0) {
      dup2(null, STDERR_FILENO);
    }
    for (const std::string& e : env) {
      if (e.find('=') == std::string::npos)
        unsetenv(e.c_str());
      else
        putenv(const_cast<char*>(e.c_str()));
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(fds[1]);
  out_ = fds[0];
}

TChild::~TChild() {
  if (pid_ > 0 && !status_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
}

void TChild::Signal(int signo) const {
  kill(pid_, signo);
}

std::optional<std::string> TChild::WaitLine(const std::function<bool(const std::string&)>& pred,
                                            std::chrono::milliseconds within) {
  const auto end = Clock::now() + within;
  for (;;) {
    std::size_t nl;
    while ((nl = pending_.find('\n')) != std::string::npos) {
      std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      output_ += line + "\n";
      if (pred(line)) return line;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left <= 0ms || !ReadSome(left)) return std::nullopt;
  }
}

std::optional<std::string> TChild::WaitFor(const std::string& part, std::chrono::milliseconds within) {
  return WaitLine([&](const std::string& l) { return l.find(part) != std::string::npos; }, within);
}

void TChild::Drain(std::chrono::milliseconds during) {
  const auto end = Clock::now() + during;
  while (Clock::now() < end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (!ReadSome(left)) std::this_thread::sleep_for(10ms);
  }
}

std::optional<int> TChild::WaitExit(std::chrono::milliseconds within) {
  const auto end = Clock::now() + within;
  while (!status_) {
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      status_ = WIFEXITED(st) ? WEXITSTATUS(st) : -WTERMSIG(st);
      break;
    }
    if (Clock::now() >= end) return std::nullopt;
    if (!ReadSome(20ms)) std::this_thread::sleep_for(5ms);
  }
  while (ReadSome(0ms)) {
  }
  output_ += pending_;
  pending_.clear();
  return status_;
}

bool TChild::ReadSome(std::chrono::milliseconds wait) {
  pollfd p{out_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) return false;
  char buf[4096];
  const ssize_t n = read(out_, buf, sizeof buf);
  if (n <= 0) return false;
  pending_.append(buf, static_cast<std::size_t>(n));
  return true;
}

}  // namespace qv::test

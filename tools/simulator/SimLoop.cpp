#include "SimLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace qv::sim {
namespace {

std::runtime_error SysError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}

void MakeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  cfsetispeed(&t, B115200);
  cfsetospeed(&t, B115200);
  tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

TPty OpenPty() {
  TPty p;
  p.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (p.master < 0) throw SysError("posix_openpt");
  char name[128];
  if (grantpt(p.master) != 0 || unlockpt(p.master) != 0 || ptsname_r(p.master, name, sizeof name) != 0) {
    const std::runtime_error e = SysError("pseudo-terminal setup");
    close(p.master);
    throw e;
  }
  p.path = name;
  p.slave = open(name, O_RDWR | O_NOCTTY);
  if (p.slave < 0) {
    const std::runtime_error e = SysError("open " + p.path);
    close(p.master);
    throw e;
  }
  MakeRaw(p.slave);
  fcntl(p.master, F_SETFL, fcntl(p.master, F_GETFL) | O_NONBLOCK);
  fcntl(p.master, F_SETFD, FD_CLOEXEC);
  fcntl(p.slave, F_SETFD, FD_CLOEXEC);
  return p;
}

void ClosePty(TPty& p) {
  if (p.slave >= 0) close(p.slave);
  if (p.master >= 0) close(p.master);
  p.slave = p.master = -1;
}

int OpenDevice(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw SysError("open " + path);
  if (isatty(fd)) MakeRaw(fd);
  return fd;
}

uint64_t SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

int RunSimLoop(int fd, TSimEngine& engine, int stopFd, bool exitWhenDone) {
  std::vector<uint8_t> out;
  engine.SetWriter([&out](const uint8_t* d, size_t n) { out.insert(out.end(), d, d + n); });
  uint8_t buf[4096];
  for (;;) {
    engine.RunDue(SteadyMs());
    while (!out.empty()) {
      const ssize_t w = write(fd, out.data(), out.size());
      if (w > 0) {
        out.erase(out.begin(), out.begin() + w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      return 1;
    }
    if (exitWhenDone && engine.Finished() && out.empty() && engine.NextDue() < 0) return 0;
    int timeout = -1;
    if (const int64_t due = engine.NextDue(); due >= 0) {
      const int64_t now = static_cast<int64_t>(SteadyMs());
      timeout = due > now ? static_cast<int>(due - now) : 0;
    }
    pollfd fds[2] = {{fd, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0}, {stopFd, POLLIN, 0}};
    const int r = poll(fds, stopFd >= 0 ? 2 : 1, timeout);
    if (r < 0) {
      if (errno == EINTR) continue;
      return 1;
    }
    if (stopFd >= 0 && (fds[1].revents & (POLLIN | POLLHUP))) return 0;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) {
        engine.Feed(buf, static_cast<size_t>(n), SteadyMs());
      } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        return 1;
      }
    } else if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      return 1;
    }
  }
}

TSimThread::TSimThread(TSimConfig cfg, const std::function<void(TSimEngine&)>& prepare)
    : engine_(std::move(cfg)) {
  if (pipe2(stop_, O_CLOEXEC) != 0) throw SysError("pipe");
  try {
    pty_ = OpenPty();
  } catch (...) {
    close(stop_[0]);
    close(stop_[1]);
    throw;
  }
  if (prepare) prepare(engine_);
  thread_ = std::thread([this] { result_ = RunSimLoop(pty_.master, engine_, stop_[0], false); });
}

int TSimThread::Stop() {
  if (thread_.joinable()) {
    (void)!write(stop_[1], "x", 1);
    thread_.join();
  }
  return result_;
}

TSimThread::~TSimThread() {
  Stop();
  ClosePty(pty_);
  close(stop_[0]);
  close(stop_[1]);
}

}  // namespace qv::sim

#include "app/service/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base/AppPath.h"

namespace qv {
namespace {

// The PID the holder wrote into the file; 0 when there is none (yet).
long ReadHolder(int fd) {
  // The holder writes its PID just after taking the lock; give it a moment.
  for (int attempt = 0; attempt < 20; ++attempt) {
    char buf[32] = {};
    const ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    if (n > 0) {
      char* end = nullptr;
      const long pid = std::strtol(buf, &end, 10);
      if (end != buf && pid > 0) return pid;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return 0;
}

}  // namespace

std::string InstanceLockPath() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  // /tmp is everybody's: another user could take the lock first. The data directory is
  // the service user's own.
  std::string d = dir && *dir ? dir : GetAppPath();
  if (d.back() != '/') d += '/';
  return d + "Quorvex.lock";
}

bool AcquireSingleInstance(const std::string& path, long* holderPid) {
  if (holderPid) *holderPid = 0;
  // No link is followed, and only a plain file will do: a planted link or device must not
  // make the service create, lock or block on something else.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  struct stat st {};
  const bool plain = fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!plain) {
    const int err = fd < 0 ? errno : EINVAL;
    if (fd >= 0) ::close(fd);
    // Another user's stale file must not keep the service down; the port has a lock of its
    // own, so a second copy would still not serve.
    std::fprintf(stderr, "quorvex: cannot open the lock file %s (%s); running without it\n", path.c_str(),
                 std::strerror(err));
    return true;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (holderPid) *holderPid = ReadHolder(fd);
    ::close(fd);
    return false;
  }
  if ((st.st_mode & 077) != 0) (void)fchmod(fd, 0600);
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) (void)!pwrite(fd, pid.data(), pid.size(), 0);
  return true;  // the descriptor stays open; the kernel drops the lock at exit
}

}  // namespace qv

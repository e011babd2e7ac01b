#include "app/service/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qv {

std::string InstanceLockPath() {
  const char* dir = std::getenv("XDG_RUNTIME_DIR");
  std::string d = dir && *dir ? dir : "/tmp";
  if (d.back() != '/') d += '/';
  return d + "Quorvex.lock";
}

bool AcquireSingleInstance(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    // Another user's stale file must not keep the service down; the port has a lock of its
    // own, so a second copy would still not serve.
    std::fprintf(stderr, "quorvex: cannot open the lock file %s (%s); running without it\n", path.c_str(),
                 std::strerror(errno));
    return true;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  return true;  // the descriptor stays open; the kernel drops the lock at exit
}

}  // namespace qv

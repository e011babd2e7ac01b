#include "app/core/FileIo.h"

#include <unistd.h>

#include <cerrno>

namespace qv {

bool WriteAllFd(int fd, std::string_view data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace qv

#include "base/FileIo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

int ReplaceFile(const std::string& path, std::string_view data, int Mode) {
  std::string target = path;
  struct stat st {};
  bool exists = lstat(path.c_str(), &st) == 0;
  if (exists && S_ISLNK(st.st_mode)) {
    if (char* real = realpath(path.c_str(), nullptr)) {
      target = real;
      free(real);
    }
    exists = stat(target.c_str(), &st) == 0;
  }
  // Only the directory's rights count for a rename (root's included), so a read-only file
  // would be replaced without this.
  if (exists && ((st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)) return EACCES;
  const size_t slash = target.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash);
  if (dir.empty()) dir = "/";
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string tmp = dir + "/." + base + ".XXXXXX";

  const int fd = mkostemp(tmp.data(), O_CLOEXEC);
  if (fd < 0) return errno;
  // The new file takes the old one's owner and group (root rewriting the service user's
  // file must not take it over); when the owner cannot be given back, the group at least.
  // The owner first: giving a file away may clear its set-id bits, so the mode follows.
  if (exists && fchown(fd, st.st_uid, st.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), st.st_gid);
  int err = 0;
  const mode_t mode = Mode >= 0 ? static_cast<mode_t>(Mode) : exists ? (st.st_mode & 07777) : 0644;
  if (err == 0 && (fchmod(fd, mode) != 0 || !WriteAllFd(fd, data) || fsync(fd) != 0))
    err = errno ? errno : EIO;
  if (close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(tmp.c_str(), target.c_str()) != 0) err = errno;
  if (err != 0) {
    unlink(tmp.c_str());
    return err;
  }
  const int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return 0;
}

}  // namespace qv

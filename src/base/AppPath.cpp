#include "base/AppPath.h"

#include <dirent.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <mutex>

namespace qv {

namespace {

std::mutex& ExeMutex() {
  static std::mutex m;
  return m;
}

std::string& ExeOverride() {
  static std::string path;
  return path;
}

}  // namespace

void SetExecutablePath(std::string path) {
  std::lock_guard<std::mutex> lock(ExeMutex());
  ExeOverride() = std::move(path);
}

std::string ExecutablePath() {
  {
    std::lock_guard<std::mutex> lock(ExeMutex());
    if (!ExeOverride().empty()) return ExeOverride();
  }
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string GetAppPath() {
  try {
    if (const char* home = std::getenv("QUORVEX_HOME"); home && *home) {
      std::string dir(home);
      if (dir.back() != '/') dir.push_back('/');
      return dir;
    }
    const std::string exe = ExecutablePath();
    if (exe.empty()) return "./";
    size_t slash = exe.rfind('/');
    return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
  } catch (...) {
    return "./";
  }
}

// An entry spelled exactly like name wins; otherwise the first case-insensitive match in
// byte order, so that the choice does not depend on the directory's listing order.
std::string FindNoCase(const std::string& dir, const std::string& name) {
  try {
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return dir + name;
    std::string best;
    while (dirent* e = readdir(d)) {
      const char* n = e->d_name;
      if (strcasecmp(n, name.c_str()) != 0) continue;
      if (name == n) {
        best = n;
        break;
      }
      if (best.empty() || best > n) best = n;
    }
    closedir(d);
    return dir + (best.empty() ? name : best);
  } catch (...) {
    return dir + name;
  }
}

}  // namespace qv

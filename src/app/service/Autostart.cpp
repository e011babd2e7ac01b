#include "app/service/Autostart.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/AppPath.h"
#include "base/FileIo.h"
#include "base/Text.h"

namespace qv {
namespace {

constexpr const char* kEntryName = "Quorvex_SQLPROC.desktop";

bool MakeDirs(const std::string& dir) {
  std::string part;
  for (size_t i = 0; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      if (!part.empty() && ::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    if (i < dir.size()) part += dir[i];
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string AutostartDir() {
  const char* env = std::getenv("QUORVEX_AUTOSTART_DIR");
  std::string dir = env && *env ? env : "/etc/xdg/autostart";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string AutostartFile() {
  return AutostartDir() + "/" + kEntryName;
}

std::string AutostartExec() {
  // The running program itself: with QUORVEX_HOME the program directory is not the data
  // directory, and the started copy must be told where its data is.
  std::string exe = ExecutablePath();
  if (exe.empty()) exe = GetAppPath() + "quorvex";
  std::string exec = DesktopExecValue(exe);
  if (const char* home = std::getenv("QUORVEX_HOME"); home && *home)
    exec = "env " + DesktopExecValue(std::string("QUORVEX_HOME=") + home) + " " + exec;
  return exec;
}

std::string DesktopExecValue(const std::string& path) {
  static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string v;
  if (path.find_first_of(reserved) == std::string::npos) {
    v = path;
  } else {
    v = "\"";
    for (char c : path) {
      if (c == '"' || c == '`' || c == '$' || c == '\\') v += '\\';
      v += c;
    }
    v += "\"";
  }
  // The value itself is a desktop-entry string, where a backslash is written twice.
  std::string out;
  for (char c : v) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return out;
}

bool AutostartRegistered() {
  std::ifstream f(AutostartFile());
  if (!f) return false;
  std::string line;
  bool inEntry = false;
  while (std::getline(f, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string t = Trim(line);
    if (!t.empty() && t.front() == '[') {
      inEntry = t == "[Desktop Entry]";
      continue;
    }
    if (inEntry && t.rfind("Exec", 0) == 0) {
      const std::string rest = Trim(t.substr(4));
      if (!rest.empty() && rest.front() == '=') return !Trim(rest.substr(1)).empty();
    }
  }
  return false;
}

bool reg_Add_Del(bool addReg) {
  const std::string dir = AutostartDir();
  const std::string file = AutostartFile();
  if (!addReg) {
    if (::unlink(file.c_str()) == 0) return true;
    return errno == ENOENT || errno == ENOTDIR;
  }
  if (!MakeDirs(dir)) return false;
  const std::string text = "[Desktop Entry]\nType=Application\nName=" + std::string("433无线服务程序") +
                           "\nExec=" + AutostartExec() + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
  return ReplaceFile(file, text) == 0;
}

}  // namespace qv

#include "base/Logging.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

#include "base/AppPath.h"
#include "base/Clock.h"
#include "base/FileIo.h"
#include "base/Settings.h"
#include "base/Text.h"

namespace qv {
namespace {

std::tm LocalTime(std::chrono::system_clock::time_point t) {
  std::time_t tt = std::chrono::system_clock::to_time_t(t);
  // to_time_t may round; take the whole second at or before t.
  if (std::chrono::system_clock::from_time_t(tt) > t) --tt;
  std::tm tm{};
  localtime_r(&tt, &tm);
  return tm;
}

// Logs may carry what terminals sent: never more than owner read-write, group read. An
// older file that others could read is tightened at its next line.
constexpr mode_t kLogMode = 0640;

int OpenLog(const std::string& path, int flags) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC, kLogMode);
  if (fd < 0) return fd;
  // Only a file of our own: a log name that leads to a device (a trace into /dev/stderr, a
  // link to /dev/null) must not change the device's mode.
  struct stat st {};
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 07777 & ~kLogMode) != 0)
    (void)fchmod(fd, st.st_mode & kLogMode);
  return fd;
}

// Appends one line (UTF-8 text, written as GBK with CR LF) to path. With a limit, a file
// whose length divided by 128 is at least limit is emptied first (any limit of 0 or less
// therefore keeps only the newest line).
// A log line as the files hold it: GBK, ending in CR LF.
std::string FileLine(std::string_view text) {
  std::string line = Utf8ToGbk(text);
  line += "\r\n";
  return line;
}

// The size rule: a file whose length divided by 128 is at least limit is emptied first.
bool OverLimit(const struct stat& st, long long limit) {
  return static_cast<long long>(st.st_size) / 128 >= limit;
}

void AppendLine(const std::string& path, std::string_view text, std::optional<long long> limit) {
  int flags = O_WRONLY | O_CREAT | O_APPEND;
  if (limit) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && OverLimit(st, *limit)) flags |= O_TRUNC;
  }
  const std::string line = FileLine(text);
  const int fd = OpenLog(path, flags);
  if (fd < 0) return;
  WriteAllFd(fd, line);
  close(fd);
}

std::string Stamped(std::chrono::system_clock::time_point now, std::string_view text) {
  std::string line = "Time：";
  line += FormatLogDateTime(now);
  line += " -- ";
  line += text;
  return line;
}

// Appends spaces until piece is width GBK bytes wide.
void PadTo(std::string& piece, int width) {
  int w = GbkWidth(piece);
  if (w < width) piece.append(static_cast<size_t>(width - w), ' ');
}

}  // namespace

namespace {

int MillisOf(std::chrono::system_clock::time_point t) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
  return static_cast<int>(ms < 0 ? ms + 1000 : ms);
}

}  // namespace

std::string FormatLogDateTime(std::chrono::system_clock::time_point t) {
  std::tm tm = LocalTime(t);
  char buf[48];
  const int ms = MillisOf(t);
  if (tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0 && ms == 0) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  }
  return buf;
}

std::string FormatTraceTime(std::chrono::system_clock::time_point t) {
  const std::tm tm = LocalTime(t);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, MillisOf(t));
  return buf;
}

int TOpenLog::Open(const std::string& path) {
  Close();
  const int fd = OpenLog(path, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK);
  if (fd < 0) return errno ? errno : EIO;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    const int err = errno ? errno : EIO;
    close(fd);
    return err;
  }
  fd_ = fd;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  return 0;
}

void TOpenLog::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool TOpenLog::IsAt(const std::string& path) const {
  struct stat st {};
  if (fd_ < 0 || stat(path.c_str(), &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_) return false;
  if (S_ISREG(st.st_mode) && (st.st_mode & 07777 & ~kLogMode) != 0) (void)fchmod(fd_, st.st_mode & kLogMode);
  return true;
}

bool TOpenLog::WriteLine(std::string_view text, std::optional<long long> limit) {
  try {
    if (fd_ < 0) return false;
    struct stat st {};
    if (limit && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && OverLimit(st, *limit))
      (void)ftruncate(fd_, 0);
    return WriteAllFd(fd_, FileLine(text));
  } catch (...) {
    return false;
  }
}

void WriteResultLog(std::string_view text) {
  try {
    if (!SysSet().writeResult) return;
    AppendLine(FindNoCase(GetAppPath(), "Result.txt"), Stamped(ClockNow(), text), SysSet().maxsizeResult);
  } catch (...) {
  }
}

void WriteErrLog(std::string_view text) {
  try {
    AppendLine(FindNoCase(GetAppPath(), "ResultErr.txt"), Stamped(ClockNow(), text), 1024);
  } catch (...) {
  }
}

namespace {

// The day's communication log stays open while lines go to the same file: one stat of the
// path and one write() per line instead of two directory scans, an open and a close. The
// write is unbuffered and O_APPEND, so a viewer sees each line at once and other writers
// do not clash. The file is opened again when the program directory or the date changes,
// when the path no longer names the open file (moved away or deleted), after a failed
// write and after the log was switched off.
struct TDayLog {
  std::mutex m;
  TOpenLog file;
  std::string key;   // program directory + file name, as asked
  std::string path;  // the file found for key

  void Close() {
    file.Close();
    key.clear();
  }

  bool Open(const std::string& appPath, const std::string& name) {
    Close();
    const std::string dir = FindNoCase(appPath, "Log");
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 && mkdir(dir.c_str(), 0750) != 0 && errno != EEXIST) return false;
    path = FindNoCase(dir + "/", name);
    if (file.Open(path) != 0) return false;
    key = appPath + name;
    return true;
  }
};

TDayLog& DayLog() {
  static TDayLog* log = new TDayLog;  // never destroyed: a line may come during exit
  return *log;
}

}  // namespace

void WriteCommDayLog(std::string_view text) {
  try {
    TDayLog& log = DayLog();
    std::lock_guard lock(log.m);
    if (!SysSet().WriteCommLog) {
      log.Close();
      return;
    }
    const auto now = ClockNow();
    std::tm tm = LocalTime(now);
    char name[32];
    std::snprintf(name, sizeof name, "%04d%02d%02d.txt", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    const std::string appPath = GetAppPath();
    const bool same = log.file.IsOpen() && log.key == appPath + name;
    if (!(same && log.file.IsAt(log.path)) && !log.Open(appPath, name)) return;
    // A line that cannot be written is lost; the next one opens the file again.
    if (!log.file.WriteLine(Stamped(now, text), std::nullopt)) log.Close();
  } catch (...) {
  }
}

void WriteEPosLog(std::string_view text, bool clear) {
  try {
    const std::string path = FindNoCase(GetAppPath(), "ePOS.txt");
    if (clear) {
      const int fd = OpenLog(path, O_WRONLY | O_CREAT | O_TRUNC);
      if (fd >= 0) close(fd);
    }
    if (!text.empty()) AppendLine(path, text, std::nullopt);
  } catch (...) {
  }
}

std::string FormatCommDayLine(int iPDANo, const std::string& strName, int iResult,
                              const std::string& strResult) {
  try {
    std::string pda = "机号:" + std::to_string(iPDANo);
    std::string cmd = "命令:" + strName;
    std::string res = "返回值:" + std::to_string(iResult);
    PadTo(pda, 16);
    PadTo(cmd, 20);
    PadTo(res, 16);
    return pda + cmd + res + "结果:" + strResult;
  } catch (...) {
    return std::string();
  }
}

std::string ExceptionText(std::exception_ptr p) {
  if (!p) return "unknown exception";
  try {
    std::rethrow_exception(p);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace qv

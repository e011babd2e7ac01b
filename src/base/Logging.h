#pragma once
// The four log files beside the executable, stamped by the program's clock (base/Clock.h).
// None of these ever throws.
#include <sys/types.h>

#include <chrono>
#include <exception>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

void WriteResultLog(std::string_view text);            // Result.txt while writeResult
void WriteErrLog(std::string_view text);               // ResultErr.txt, always
void WriteCommDayLog(std::string_view text);           // Log/YYYYMMDD.txt while WriteCommLog
void WriteEPosLog(std::string_view text, bool clear);  // ePOS.txt

// A log kept open from line to line (the frame trace, the day's communication log): each
// line costs one write, after the size rule of Result.txt when a limit is given (a file whose
// length / 128 is at least the limit is emptied first). Lines are UTF-8 text, written as GBK
// with CR LF. Never throws.
class TOpenLog {
 public:
  TOpenLog() = default;
  ~TOpenLog() { Close(); }
  TOpenLog(const TOpenLog&) = delete;
  TOpenLog& operator=(const TOpenLog&) = delete;

  // Opens path for appending, creating it (0640) when missing; 0, or the errno of the
  // failure. Whatever was open before is closed. Not blocking: a pipe without a reader fails
  // at once, a full one loses the line instead of holding the caller.
  int Open(const std::string& path);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  // Whether path still names the open file (not moved away, deleted or replaced); an
  // outside chmod that let others read it is taken back, as a fresh open would.
  bool IsAt(const std::string& path) const;
  // Appends one line; false when it could not be written whole (or nothing is open).
  bool WriteLine(std::string_view text, std::optional<long long> limit);

 private:
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

// "yyyy-MM-dd HH:mm:ss.zzz" of t in local time, the milliseconds always shown.
std::string FormatTraceTime(std::chrono::system_clock::time_point t);

// The message of an exception, for the "... except:" lines; call it inside a catch block.
std::string ExceptionText(std::exception_ptr p = std::current_exception());

// "yyyy-MM-dd HH:mm:ss" of t in local time; the time part is left out when t is exactly
// midnight (to the millisecond), as every log of these installations has it.
std::string FormatLogDateTime(std::chrono::system_clock::time_point t);

// The request line of the daily communication log: "机号:" + iPDANo padded to 16, "命令:" +
// strName padded to 20, "返回值:" + iResult padded to 16, "结果:" + strResult. Padding counts
// GBK bytes (a Chinese character is two); a longer piece stays whole.
std::string FormatCommDayLine(int iPDANo, const std::string& strName, int iResult,
                              const std::string& strResult);

}  // namespace qv

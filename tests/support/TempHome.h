#pragma once
// A private program directory: QUORVEX_HOME names a fresh temporary directory for the
// object's life (an earlier value comes back after it), so that tests running side by side
// never share datalink.ini, POSLIST.BAT or a log file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "base/Logging.h"
#include "base/Settings.h"

namespace qv::test {

// With the debug trace Result.txt switched on in the settings record.
inline constexpr bool kWithTrace = true;

class TTempHome {
 public:
  explicit TTempHome(bool withTrace = false);
  ~TTempHome();
  TTempHome(const TTempHome&) = delete;
  TTempHome& operator=(const TTempHome&) = delete;

  // The directory, with its trailing "/".
  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& name) const { return dir_ + name; }
  std::string Slurp(const std::string& name) const;
  void Put(const std::string& name, const std::string& bytes) const;
  bool Exists(const std::string& name) const;
  // datalink.ini from UTF-8 text (stored as GBK).
  void WriteIni(const std::string& text) const;

  // The messages of a log file (time stamps removed), in order; the error log, the debug
  // trace; the error log whole as UTF-8 ("" when missing); both logs removed.
  std::vector<std::string> Lines(const std::string& file) const;
  std::vector<std::string> ErrLog() const { return Lines("ResultErr.txt"); }
  std::vector<std::string> ResultLog() const { return Lines("Result.txt"); }
  std::string ErrLogText() const;
  void ClearLogs() const;

 protected:
  std::string dir_;

 private:
  std::string old_;
  bool hadOld_ = false;
};

// The fixture form for the foundation's tests: the settings record also starts from its
// defaults.
class TempHome : public ::testing::Test, public TTempHome {
 protected:
  void SetUp() override;
};

// A local wall-clock time.
std::chrono::system_clock::time_point Local(int y, int mo, int d, int h, int mi, int s, int ms = 0);

}  // namespace qv::test

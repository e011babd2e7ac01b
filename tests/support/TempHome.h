#pragma once
// A fresh program directory per test: QUORVEX_HOME names a new temporary directory, the
// settings record and the log clock start from their defaults.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "base/Logging.h"
#include "base/Settings.h"

namespace qv::test {

class TempHome : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qv-core-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = std::string(tmpl) + "/";
    setenv("QUORVEX_HOME", dir_.c_str(), 1);
    SysSet() = TStru_SysSet{};
    SetLogClock({});
  }
  void TearDown() override {
    SetLogClock({});
    unsetenv("QUORVEX_HOME");
    std::error_code ec;
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return dir_ + name; }

  std::string Slurp(const std::string& name) const {
    std::ifstream f(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

  void Put(const std::string& name, const std::string& bytes) const {
    std::ofstream f(Path(name), std::ios::binary | std::ios::trunc);
    f << bytes;
  }

  bool Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }

  std::string dir_;
};

// A local wall-clock time.
inline std::chrono::system_clock::time_point Local(int y, int mo, int d, int h, int mi, int s,
                                                   int ms = 0) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  tm.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&tm)) + std::chrono::milliseconds(ms);
}

}  // namespace qv::test

#pragma once
// A private program directory per test: datalink.ini, Result.txt and ResultErr.txt live
// there, so that tests running side by side never share a file.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "base/Settings.h"
#include "base/Text.h"

namespace qv::test {

class TestHome {
 public:
  TestHome() {
    char tmpl[] = "/tmp/qv-bridge-XXXXXX";
    const char* made = mkdtemp(tmpl);
    dir_ = made ? made : "/tmp";
    setenv("QUORVEX_HOME", dir_.c_str(), 1);
    SysSet().writeResult = true;
  }
  ~TestHome() {
    unsetenv("QUORVEX_HOME");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TestHome(const TestHome&) = delete;
  TestHome& operator=(const TestHome&) = delete;

  const std::string& Dir() const { return dir_; }

  void WriteIni(const std::string& text) const {
    std::ofstream(dir_ + "/datalink.ini", std::ios::binary) << Utf8ToGbk(text);
  }

  // The messages of a log file, time stamps removed, in order.
  std::vector<std::string> Lines(const std::string& file) const {
    std::ifstream in(dir_ + "/" + file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = GbkToUtf8(ss.str());
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      const size_t mark = line.find(" -- ");
      if (mark != std::string::npos) line = line.substr(mark + 4);
      lines.push_back(line);
      start = end + 2;
    }
    return lines;
  }
  std::vector<std::string> ResultLog() const { return Lines("Result.txt"); }
  std::vector<std::string> ErrLog() const { return Lines("ResultErr.txt"); }
  void ClearLogs() const {
    std::error_code ec;
    std::filesystem::remove(dir_ + "/Result.txt", ec);
    std::filesystem::remove(dir_ + "/ResultErr.txt", ec);
  }

 private:
  std::string dir_;
};

}  // namespace qv::test

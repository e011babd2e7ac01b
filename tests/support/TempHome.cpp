#include "TempHome.h"

#include <stdlib.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "base/Logging.h"
#include "base/Settings.h"
#include "base/Text.h"

namespace qv::test {

TTempHome::TTempHome(bool withTrace) {
  if (const char* old = std::getenv("QUORVEX_HOME")) {
    hadOld_ = true;
    old_ = old;
  }
  std::string tmpl = (std::filesystem::temp_directory_path() / "qv-home-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl + "/";
  setenv("QUORVEX_HOME", dir_.c_str(), 1);
  if (withTrace) SysSet().writeResult = true;
}

TTempHome::~TTempHome() {
  if (hadOld_)
    setenv("QUORVEX_HOME", old_.c_str(), 1);
  else
    unsetenv("QUORVEX_HOME");
  std::error_code ec;
  // A test may have left the directory read-only.
  std::filesystem::permissions(dir_, std::filesystem::perms::owner_all, ec);
  std::filesystem::remove_all(dir_, ec);
}

std::string TTempHome::Slurp(const std::string& name) const {
  std::ifstream f(Path(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void TTempHome::Put(const std::string& name, const std::string& bytes) const {
  std::ofstream f(Path(name), std::ios::binary | std::ios::trunc);
  f << bytes;
}

bool TTempHome::Exists(const std::string& name) const {
  return std::filesystem::exists(Path(name));
}

void TTempHome::WriteIni(const std::string& text) const {
  Put("datalink.ini", Utf8ToGbk(text));
}

std::vector<std::string> TTempHome::Lines(const std::string& file) const {
  const std::string text = GbkToUtf8(Slurp(file));
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

std::string TTempHome::ErrLogText() const {
  return GbkToUtf8(Slurp("ResultErr.txt"));
}

void TTempHome::ClearLogs() const {
  std::error_code ec;
  std::filesystem::remove(Path("Result.txt"), ec);
  std::filesystem::remove(Path("ResultErr.txt"), ec);
}

void TempHome::SetUp() {
  SysSet() = TStru_SysSet{};
}

std::chrono::system_clock::time_point Local(int y, int mo, int d, int h, int mi, int s, int ms) {
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

#include "ServiceTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "base/AppPath.h"
#include "base/OpLog.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "link/Frames.h"

namespace qv::test {

void ServiceHome::SetUp() {
  TempHome::SetUp();
  setenv("QUORVEX_AUTOSTART_DIR", (dir_ + "autostart").c_str(), 1);
  OpLog().SetView(nullptr);
  OpLog().Clear();
}

void ServiceHome::TearDown() {
  SetExecutablePath("");
  OpLog().SetView(nullptr);
  OpLog().Clear();
  unsetenv("QUORVEX_AUTOSTART_DIR");
  TempHome::TearDown();
}

void ServiceHome::PutIni(const std::string& text) {
  Put("datalink.ini", Utf8ToGbk(text));
  LoadSysSet();
}

TIniMap ReadIni(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  const std::string text =
      GbkToUtf8(std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()));
  TIniMap map;
  std::string section;
  size_t i = 0;
  while (i < text.size()) {
    size_t j = text.find('\n', i);
    if (j == std::string::npos) j = text.size();
    std::string line = text.substr(i, j - i);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    i = j + 1;
    if (line.empty()) continue;
    if (line.front() == '[') {
      section = line.substr(1, line.find(']') - 1);
      map[section];
      continue;
    }
    const size_t eq = line.find('=');
    if (eq != std::string::npos) map[section][line.substr(0, eq)] = line.substr(eq + 1);
  }
  return map;
}

TPtyStation::TPtyStation() {
  char name[256] = {};
  if (openpty(&master_, &slaveFd_, name, nullptr, nullptr) != 0) {
    ADD_FAILURE() << "openpty failed";
    return;
  }
  slave_ = name;
  thread_ = std::thread([this] { Run(); });
}

TPtyStation::~TPtyStation() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) ::close(master_);
  if (slaveFd_ >= 0) ::close(slaveFd_);
}

void TPtyStation::Answer(uint8_t cmd, std::vector<uint8_t> data) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[cmd] = std::move(data);
}

std::vector<std::vector<uint8_t>> TPtyStation::Frames() {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

std::vector<uint16_t> TPtyStation::TermWords() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint16_t> words;
  size_t i = 0;
  while (i + 16 <= raw_.size()) {
    if (raw_[i] != 0x1B || raw_[i + 1] != 0x10) {
      ++i;
      continue;
    }
    const size_t len = raw_[i + 13] + 2u;
    if (len < 16 || i + len > raw_.size()) break;
    words.push_back(static_cast<uint16_t>(raw_[i + 10] | (raw_[i + 11] << 8)));
    i += len;
  }
  return words;
}

void TPtyStation::Run() {
  std::vector<uint8_t> pending;
  while (!stop_) {
    pollfd p{master_, POLLIN, 0};
    if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN)) continue;
    uint8_t buf[512];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) continue;
    pending.insert(pending.end(), buf, buf + n);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      raw_.insert(raw_.end(), buf, buf + n);
    }
    // Cut whole base-station command frames: AF AF 00 00 AF 80 cmd count data sum 0D 0A.
    for (;;) {
      size_t start = 0;
      while (start + 1 < pending.size() && !(pending[start] == 0xAF && pending[start + 1] == 0xAF)) ++start;
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(start));
      if (pending.size() < 8) break;
      const size_t len = pending[7] + 11u;
      if (pending.size() < len) break;
      std::vector<uint8_t> frame(pending.begin(), pending.begin() + static_cast<long>(len));
      pending.erase(pending.begin(), pending.begin() + static_cast<long>(len));
      std::vector<uint8_t> reply;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        frames_.push_back(frame);
        auto it = answers_.find(frame[6]);
        if (it != answers_.end()) reply = BuildBaseFrame(frame[6], it->second.data(), it->second.size());
      }
      if (!reply.empty()) {
        const ssize_t w = ::write(master_, reply.data(), reply.size());
        (void)w;
      }
    }
  }
}

std::vector<uint8_t> BaseInfo(const std::string& ver, int32_t id) {
  std::vector<uint8_t> d(144, 0);
  std::copy(ver.begin(), ver.end(), d.begin());
  for (int i = 0; i < 4; ++i) d[16 + i] = static_cast<uint8_t>(static_cast<uint32_t>(id) >> (8 * i));
  return d;
}

}  // namespace qv::test

#include "GuiTestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/core/AppPath.h"
#include "app/core/Logging.h"
#include "app/core/OpLog.h"
#include "app/core/Settings.h"
#include "app/core/Text.h"
#include "link/Frames.h"

namespace qv::test {

void GuiHome::SetUp() {
  char tmpl[] = "/tmp/qv-gui-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  dir_ = std::string(tmpl) + "/";
  setenv("QUORVEX_HOME", dir_.c_str(), 1);
  setenv("QUORVEX_AUTOSTART_DIR", (dir_ + "autostart").c_str(), 1);
  SysSet() = TStru_SysSet{};
  OpLog().SetView(nullptr);
  OpLog().Clear();
}

void GuiHome::TearDown() {
  SetExecutablePath("");
  OpLog().SetView(nullptr);
  OpLog().Clear();
  unsetenv("QUORVEX_HOME");
  unsetenv("QUORVEX_AUTOSTART_DIR");
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

std::string GuiHome::Slurp(const std::string& name) const {
  std::ifstream f(Path(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void GuiHome::Put(const std::string& name, const std::string& bytes) const {
  std::ofstream f(Path(name), std::ios::binary | std::ios::trunc);
  f << bytes;
}

bool GuiHome::Exists(const std::string& name) const { return std::filesystem::exists(Path(name)); }

void GuiHome::PutIni(const std::string& text) {
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

void OnModalWidget(const QMetaObject* type, std::function<void(QWidget*)> fn, int passes) {
  QTimer::singleShot(passes < 20 ? 0 : 5, qApp, [type, fn, passes] {
    QWidget* w = QApplication::activeModalWidget();
    if (w && w->isVisible() && type->cast(w)) {
      fn(w);
      return;
    }
    if (passes > 4000) {
      ADD_FAILURE() << "no modal " << type->className() << " came up";
      if (w) w->close();
      return;
    }
    OnModalWidget(type, fn, passes + 1);
  });
}

void AnswerBox(TBoxSeen& seen, QMessageBox::StandardButton answer) {
  OnModal<QMessageBox>([&seen, answer](QMessageBox* box) {
    seen.seen = true;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.def = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
    if (QAbstractButton* b = box->button(answer))
      b->click();
    else
      box->reject();
  });
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
      while (start + 1 < pending.size() && !(pending[start] == 0xAF && pending[start + 1] == 0xAF))
        ++start;
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

}  // namespace qv::test

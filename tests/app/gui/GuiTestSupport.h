#pragma once
// Shared pieces of the window tests: a fresh program directory, driving modal dialogs and
// message boxes, reading datalink.ini back, a fake database and a scripted base station on
// a pseudo-terminal.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/service/DbService.h"

namespace qv::test {

class GuiHome : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string Path(const std::string& name) const { return dir_ + name; }
  std::string Slurp(const std::string& name) const;
  void Put(const std::string& name, const std::string& bytes) const;
  bool Exists(const std::string& name) const;
  // Writes datalink.ini (UTF-8 text is stored as GBK) and reloads the settings record.
  void PutIni(const std::string& text);
  std::string dir_;
};

// Sections and keys of datalink.ini as written (names as spelled in the file).
using TIniMap = std::map<std::string, std::map<std::string, std::string>>;
TIniMap ReadIni(const std::string& path);

// What a message box showed.
struct TBoxSeen {
  bool seen = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton def = QMessageBox::NoButton;
};

// Runs fn on the next modal widget of type T as soon as it is up (checked from the event
// loop). A widget that never comes fails the test after many passes.
void OnModalWidget(const QMetaObject* type, std::function<void(QWidget*)> fn, int passes = 0);
template <class T>
void OnModal(std::function<void(T*)> fn) {
  OnModalWidget(&T::staticMetaObject, [fn](QWidget* w) { fn(static_cast<T*>(w)); });
}
// Records the next message box and answers it with answer.
void AnswerBox(TBoxSeen& seen, QMessageBox::StandardButton answer);

class TFakeDb : public IDbService {
 public:
  std::string GetConnectionString() override { return "fake"; }
  bool ConnectDatabase(const std::string&) override {
    ++connects;
    if (connectOk) linked = true;
    return connectOk;
  }
  bool CheckDbLink() override { return checkOk; }
  bool TestLinkString(const std::string& s) override {
    tested.push_back(s);
    return testOk;
  }
  bool GetDbLinked() override { return linked; }
  void SetDbLinked(bool l) override { linked = l; }
  void FreeDataSetLink() override { ++sweeps; }
  void SetLinkCheckedHook(std::function<void()> h) override { linkChecked = std::move(h); }

  std::function<void()> linkChecked;
  bool linked = false;
  bool connectOk = false;
  bool checkOk = true;
  bool testOk = false;
  int connects = 0;
  int sweeps = 0;
  std::vector<std::string> tested;
};

// A base station on the master side of a pseudo-terminal: it collects the frames written
// to the slave and answers base-station commands from a table (command -> data bytes).
class TPtyStation {
 public:
  TPtyStation();
  ~TPtyStation();
  const std::string& SlavePath() const { return slave_; }
  void Answer(uint8_t cmd, std::vector<uint8_t> data);
  std::vector<std::vector<uint8_t>> Frames();  // base-station command frames received
  std::vector<uint16_t> TermWords();           // command words of the terminal frames received

 private:
  void Run();
  int master_ = -1;
  int slaveFd_ = -1;
  std::string slave_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::map<uint8_t, std::vector<uint8_t>> answers_;
  std::vector<std::vector<uint8_t>> frames_;
  std::vector<uint8_t> raw_;
};

}  // namespace qv::test

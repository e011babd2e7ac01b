#pragma once
// Shared pieces of the service and window tests: a fresh program directory, reading
// datalink.ini back, a fake database, a view that records what the service reports and a
// scripted base station on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <stdexcept>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TempHome.h"
#include "app/service/CoreApplication.h"
#include "app/service/DbService.h"
#include "app/service/ServiceView.h"

namespace qv::test {

// TempHome, plus a private autostart folder and an empty operation log without a view.
class ServiceHome : public TempHome {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes datalink.ini (UTF-8 text is stored as GBK) and reloads the settings record.
  void PutIni(const std::string& text);
};

// Sections and keys of datalink.ini as written (names as spelled in the file).
using TIniMap = std::map<std::string, std::map<std::string, std::string>>;
TIniMap ReadIni(const std::string& path);

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

// Records each report as one line of text ("state 1", "status 服务正常启动", ...).
class TRecordingView : public IServiceView {
 public:
  void SetServiceState(int code) override { seen.push_back("state " + std::to_string(code)); }
  void ShowStatus(const QString& text) override { seen.push_back("status " + text.toStdString()); }
  void SetNetState(bool linked) override { seen.push_back(linked ? "net up" : "net down"); }
  void ShowBaseChannel(int channel) override { seen.push_back("channel " + std::to_string(channel)); }
  void ClearBaseInfo() override { seen.push_back("info cleared"); }
  void ShowBaseInfo(const std::string& version, int number) override {
    seen.push_back("info " + version + " " + std::to_string(number));
  }
  void ShowPosList(const std::vector<TPosRow>& rows) override {
    seen.push_back("list " + std::to_string(rows.size()));
  }
  bool IsMainFormActive() const override { return active; }
  std::vector<int> CheckedTerminals() override { return checked; }
  void RowsCleared() override { seen.push_back("rows cleared"); }
  void RowAdded(const TOpLogRow& row) override { seen.push_back("row " + row.strPDANo + " " + row.strValue); }
  void LastRowChanged(const TOpLogRow& row) override {
    seen.push_back("row changed " + row.strPDANo + " " + row.strValue);
  }

  std::vector<std::string> seen;
  bool active = false;
  std::vector<int> checked;
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

// The 144 data bytes of a base-station information answer.
std::vector<uint8_t> BaseInfo(const std::string& ver, int32_t id);

// An object whose user event throws `message`.
class TThrower : public QObject {
 public:
  std::string message;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error(message);
    return QObject::event(e);
  }
};

// The running application object, of type App, swallows an exception that reaches the loop
// (posted or sent) and hands its message to OnException; the network-error text is told apart.
template <class App>
void ExpectTheLoopSwallowsExceptions() {
  auto* app = dynamic_cast<App*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  std::vector<std::string> seen;
  app->OnException = [&seen](const std::string& m) { seen.push_back(m); };
  TThrower t;
  t.message = "[DBNETLIB]一般性网络错误。请检查网络文档。";
  QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&t);
  t.message = "other";
  QEvent direct(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&t, &direct));
  app->OnException = nullptr;
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(IsNetworkErrorText(seen[0])) << seen[0];
  EXPECT_EQ(seen[1], "other");
  EXPECT_FALSE(IsNetworkErrorText(seen[1]));
}

}  // namespace qv::test

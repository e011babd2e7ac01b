// qv-screenshots DIR: starts the service window against the simulated base station with
// three handhelds, shows each dialog without blocking, and writes what each looks like as
// PNG files into DIR. Run it on a display (Xvfb will do): see scripts/screenshots.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QComboBox>
#include <QLabel>
#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SimEngine.h"
#include "SimLoop.h"
#include "base/OpLog.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "app/service/DbService.h"
#include "app/service/QtPump.h"
#include "app/gui/QvApplication.h"
#include "app/gui/uCommSet.h"
#include "app/gui/uDownSet.h"
#include "app/gui/uMain.h"
#include "app/gui/uOtherSet.h"
#include "app/gui/uPosSet.h"
#include "link/Catalogue.h"
#include "base/ResultCodes.h"

namespace {

// A database that is reachable: the pictures show the link as up.
class TShotDb : public qv::IDbService {
 public:
  std::string GetConnectionString() override { return "shots"; }
  bool ConnectDatabase(const std::string&) override { return linked_ = true; }
  bool CheckDbLink() override { return linked_; }
  bool TestLinkString(const std::string&) override { return true; }
  bool GetDbLinked() override { return linked_; }
  void SetDbLinked(bool linked) override { linked_ = linked; }
  void FreeDataSetLink() override {}

 private:
  bool linked_ = false;
};

void PutFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
  if (!f) throw std::runtime_error(path + " cannot be written");
}

qv::sim::TSimConfig SimConfig() {
  qv::sim::TSimConfig cfg;
  cfg.version = "V2.10";
  cfg.station = 1001;
  cfg.channel = 1;  // the service sets channel 3 from datalink.ini as it starts
  cfg.loop = true;
  for (uint32_t no : {11u, 12u, 13u}) {
    qv::sim::TSimTerminalCfg t;
    t.no = no;
    t.mode = qv::sim::TTermMode::Ordering;
    cfg.terminals.push_back(t);
  }
  return cfg;
}

// Operation-log rows as the exchanges write them at their end: the command's display name
// from the catalogue and the result text (the stored procedure's text when it refused).
void WriteOrderingLog() {
  struct {
    int pda;
    const char* cmd;
    int rc;
    const char* refusal;
  } rows[] = {
      {11, "RT-LOGIN", qv::RC_OK, nullptr},     {12, "RT-LOGIN", qv::RC_OK, nullptr},
      {11, "RT-OPENTABLE", qv::RC_OK, nullptr}, {13, "RT-LOGIN", qv::RC_OK, nullptr},
      {12, "RT-OPENTABLE", qv::RC_OK, nullptr}, {11, "RT-MEMU", qv::RC_OK, nullptr},
      {13, "RT-OPENTABLE", 123, "该台已开台"},  {12, "RT-MEMU", qv::RC_OK, nullptr},
      {11, "RT-BILL", qv::RC_OK, nullptr},      {13, "RT-MEMU", qv::RC_OK, nullptr},
  };
  for (const auto& r : rows) {
    const qv::TStru_CmdList* cmd = qv::GetCmdByName(r.cmd);
    const std::string text = r.refusal ? r.refusal : qv::iErrToStr(r.rc);
    qv::OpLog().WriteLvLog(r.pda, cmd ? cmd->strName : r.cmd, text, true);
  }
}

// Steps run one after another from the event loop, with a pause for layout and painting
// between them; the polling loop pumps events, so they also run while it is under way.
class TSteps {
 public:
  void Add(std::function<void()> step) { steps_.push_back(std::move(step)); }
  void Start() {
    QTimer::singleShot(kPauseMs, [this] { Next(); });
  }

 private:
  static constexpr int kPauseMs = 300;
  void Next() {
    if (next_ >= steps_.size()) return;
    steps_[next_++]();
    QTimer::singleShot(kPauseMs, [this] { Next(); });
  }
  std::vector<std::function<void()>> steps_;
  size_t next_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qv-screenshots DIR\n");
    return 2;
  }
  const QString outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  if (!QDir().mkpath(outDir)) {
    std::fprintf(stderr, "qv-screenshots: %s cannot be created\n", argv[1]);
    return 1;
  }

  // A program directory of its own, so that nothing of an installation is read or changed.
  char tmpl[] = "/tmp/qv-shots-XXXXXX";
  if (!mkdtemp(tmpl)) {
    std::perror("qv-screenshots: mkdtemp");
    return 1;
  }
  const std::string home = std::string(tmpl) + "/";
  setenv("QUORVEX_HOME", home.c_str(), 1);
  setenv("QUORVEX_AUTOSTART_DIR", (home + "autostart").c_str(), 1);

  int failures = 0;
  try {
    qv::sim::TSimThread sim(SimConfig());
    const std::string ini =
        "[SysSet]\r\nSYS_SERVER_TYPE=0\r\nwriteCommLog=1\r\nTransData=111111100\r\nBroadcast=1\r\n"
        "[CommSet]\r\nCommNo=" +
        sim.Path() +
        "\r\nChannelNo=3\r\n"
        "[ConnectionString]\r\nDBServerType=0\r\nServer=192.168.1.20\r\nuport=1\r\nport=1433\r\n"
        "DBName=vqcydata\r\nPassWord=secret\r\n";
    PutFile(home + "datalink.ini", qv::Utf8ToGbk(ini));
    PutFile(home + "POSLIST.BAT", "11,V4.00\r\n12,V4.00\r\n13,V4.00\r\n");
    qv::LoadSysSet();

    qv::TQvApplication app(argc, argv);
    app.setApplicationName("quorvex");
    app.setQuitOnLastWindowClosed(false);

    TShotDb db;
    qv::TfrmMain frm(db);  // starts the service: port, channel, base-station information
    // Pictures of a service that did not start would show an error, not the program at work.
    if (frm.btnStartOrStop->property("tag").toInt() != 1)
      throw std::runtime_error("the service did not start: " + frm.stat1Panel[1]->text().toStdString());
    app.OnException = [&frm](const std::string& message) { frm.Service().aplctnvnts1Exception(message); };
    WriteOrderingLog();
    frm.show();

    auto save = [&](QWidget* w, const char* name) {
      const QString path = outDir + "/" + name;
      if (w->grab().save(path, "PNG")) {
        std::printf("%s\n", path.toLocal8Bit().constData());
      } else {
        std::fprintf(stderr, "qv-screenshots: %s not written\n", path.toLocal8Bit().constData());
        ++failures;
      }
    };

    const std::vector<std::string> posNos = frm.Service().PosNoList();  // the dialog keeps a reference
    std::unique_ptr<qv::TfrmPosSet> posSet;
    std::unique_ptr<qv::TfrmCommSet> commSet;
    std::unique_ptr<qv::TfrmOtherSet> otherSet;
    std::unique_ptr<qv::TfrmDownSet> downSet;

    TSteps steps;
    steps.Add([&] { save(&frm, "main.png"); });
    steps.Add([&] {
      posSet = std::make_unique<qv::TfrmPosSet>(posNos, &frm);
      posSet->show();
      posSet->edtPADNo->setText("14");
    });
    steps.Add([&] {
      save(posSet.get(), "posset.png");
      posSet->close();
      // The base-station dialog needs the port: the service lets go of it, as it must be
      // stopped before the dialog can be opened from the menu.
      frm.mniStopClick();
      commSet = std::make_unique<qv::TfrmCommSet>(qv::QtPump(), &frm);
      commSet->show();
    });
    steps.Add([&] { commSet->btnOpen->click(); });
    steps.Add([&] { commSet->btnReadChannel->click(); });
    steps.Add([&] {
      if (commSet->cbbChannel->currentText().isEmpty()) {
        std::fprintf(stderr, "qv-screenshots: the base station's channel was not read\n");
        ++failures;
      }
      save(commSet.get(), "commset.png");
      commSet->close();
      otherSet = std::make_unique<qv::TfrmOtherSet>(db, &frm);
      otherSet->show();
    });
    steps.Add([&] {
      save(otherSet.get(), "otherset-database.png");
      otherSet->pgc1->setCurrentIndex(1);
    });
    steps.Add([&] {
      save(otherSet.get(), "otherset-options.png");
      otherSet->close();
      downSet = std::make_unique<qv::TfrmDownSet>(&frm);
      downSet->show();
    });
    steps.Add([&] {
      save(downSet.get(), "downset.png");
      downSet->close();
      frm.Service().ShutDown();
      // Not quit(): that asks every window to close, and the service window only hides.
      QCoreApplication::exit(0);
    });
    steps.Start();
    app.exec();
    app.OnException = nullptr;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qv-screenshots: %s\n", e.what());
    ++failures;
  }

  std::error_code ec;
  std::filesystem::remove_all(home, ec);
  return failures == 0 ? 0 : 1;
}

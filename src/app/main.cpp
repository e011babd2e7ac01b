// quorvex: the service program. "--headless" runs the service without a desktop: no window,
// the operation log on standard output. SIGINT, SIGTERM or SIGHUP end it cleanly in both modes.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/Settings.h"
#include "app/service/DbService.h"
#include "base/Logging.h"
#include "app/gui/QvApplication.h"
#include "app/service/Headless.h"
#include "app/service/SignalStop.h"
#include "app/service/SingleInstance.h"
#include "app/gui/uMain.h"

namespace {

bool HasArg(int argc, char** argv, const char* arg) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], arg) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  qv::LoadSysSet();
  // One copy only; the second one says which copy holds the lock, and ends.
  const std::string lockPath = qv::InstanceLockPath();
  if (long other = 0; !qv::AcquireSingleInstance(lockPath, &other)) {
    const std::string who = other > 0 ? "(PID " + std::to_string(other) + ")" : "(PID unknown)";
    const std::string text = "another copy " + who + " holds the lock file " + lockPath + "; this one ends";
    std::fprintf(stderr, "quorvex: %s\n", text.c_str());
    qv::WriteErrLog("SingleInstance: " + text);
    return 0;
  }

  const bool headless = HasArg(argc, argv, "--headless");
  // The defaults stand in for what datalink.ini could not give, but not silently.
  for (const std::string& warning : qv::CheckDataLinkIni()) {
    if (headless) std::fprintf(stderr, "quorvex: warning: %s\n", warning.c_str());
    qv::WriteErrLog("LoadSysSet: " + warning);
  }
  if (headless) return qv::RunHeadless(argc, argv);

  qv::TQvApplication app(argc, argv);
  app.setApplicationName("quorvex");
  // The window caption stays exactly as set: no display name appended to it.
  app.setQuitOnLastWindowClosed(false);  // the window hides to the tray

  qv::TSignalStop signalStop;
  std::unique_ptr<qv::IDbService> db = qv::MakeDbService();
  qv::TfrmMain frmMain(*db);
  app.setWindowIcon(frmMain.windowIcon());
  app.OnException = [&frmMain](const std::string& message) {
    frmMain.Service().aplctnvnts1Exception(message);
  };
  // exit, not quit: quit first asks every window to close, and the window only hides.
  QObject::connect(&frmMain, &qv::TfrmMain::exitConfirmed, &app, [] { QCoreApplication::exit(0); });
  QObject::connect(&signalStop, &qv::TSignalStop::stopRequested, &frmMain, [&frmMain](int signo) {
    std::fprintf(stderr, "quorvex: %s received, stopping\n", qv::SignalName(signo));
    frmMain.EndBySignal();
  });
  signalStop.Arm();
  frmMain.show();
  const int rc = app.exec();
  app.OnException = nullptr;
  return rc;
}

// quorvex: the service program. "--headless" runs it without a desktop: the window stays
// hidden and the operation log goes to standard output. SIGINT, SIGTERM or SIGHUP end it
// cleanly in both modes.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/core/Logging.h"
#include "app/core/Settings.h"
#include "app/gui/DbService.h"
#include "app/gui/QvApplication.h"
#include "app/gui/SignalStop.h"
#include "app/gui/SingleInstance.h"
#include "app/gui/uMain.h"

namespace {

bool HasArg(int argc, char** argv, const char* arg) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], arg) == 0) return true;
  return false;
}

const char* SignalName(int signo) {
  switch (signo) {
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    default: return "SIGTERM";
  }
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
  if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  qv::TQvApplication app(argc, argv);
  app.setApplicationName("quorvex");
  // The window caption stays exactly as set: no display name appended to it.
  app.setQuitOnLastWindowClosed(false);  // the window hides to the tray

  qv::TSignalStop signalStop;
  std::unique_ptr<qv::IDbService> db = qv::MakeDbService();
  qv::TfrmMain frmMain(*db, headless);
  app.setWindowIcon(frmMain.windowIcon());
  app.OnException = [&frmMain](const std::string& message) { frmMain.aplctnvnts1Exception(message); };
  // exit, not quit: quit first asks every window to close, and the window only hides.
  QObject::connect(&frmMain, &qv::TfrmMain::exitConfirmed, &app, [] { QCoreApplication::exit(0); });
  QObject::connect(&signalStop, &qv::TSignalStop::stopRequested, &frmMain, [&frmMain](int signo) {
    std::fprintf(stderr, "quorvex: %s received, stopping\n", SignalName(signo));
    frmMain.EndBySignal();
  });
  signalStop.Arm();
  if (headless) {
    frmMain.FormShow();
  } else {
    frmMain.show();
  }
  const int rc = app.exec();
  app.OnException = nullptr;
  return rc;
}

// quorvex: the service program. "--headless" runs the service without a desktop: no window,
// the operation log on standard output. SIGINT or SIGTERM end it cleanly in both modes.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "base/Settings.h"
#include "app/service/DbService.h"
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
  if (!qv::AcquireSingleInstance(qv::InstanceLockPath())) return 0;  // one copy only
  if (HasArg(argc, argv, "--headless")) return qv::RunHeadless(argc, argv);

  qv::TQvApplication app(argc, argv);
  app.setApplicationName("quorvex");
  // The window caption stays exactly as set: no display name appended to it.
  app.setQuitOnLastWindowClosed(false);  // the window hides to the tray

  qv::TSignalStop signalStop;
  std::unique_ptr<qv::IDbService> db = qv::MakeDbService();
  qv::TfrmMain frmMain(*db);
  app.setWindowIcon(frmMain.windowIcon());
  app.OnException = [&frmMain](const std::string& message) { frmMain.Service().aplctnvnts1Exception(message); };
  // exit, not quit: quit first asks every window to close, and the window only hides.
  QObject::connect(&frmMain, &qv::TfrmMain::exitConfirmed, &app, [] { QCoreApplication::exit(0); });
  QObject::connect(&signalStop, &qv::TSignalStop::stopRequested, &frmMain, [&frmMain](int signo) {
    std::fprintf(stderr, "quorvex: %s received, stopping\n", signo == SIGINT ? "SIGINT" : "SIGTERM");
    frmMain.EndBySignal();
  });
  signalStop.Arm();
  frmMain.show();
  const int rc = app.exec();
  app.OnException = nullptr;
  return rc;
}

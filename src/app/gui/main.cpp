// quorvex: the service program. "--headless" runs it without a desktop: the window stays
// hidden and the operation log goes to standard output; SIGINT or SIGTERM end it.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstring>

#include "app/core/Settings.h"
#include "app/gui/DbService.h"
#include "app/gui/QvApplication.h"
#include "app/gui/SingleInstance.h"
#include "app/gui/uMain.h"

namespace {

int gSignalFd[2] = {-1, -1};

void OnSignal(int) {
  const char c = 1;
  const ssize_t n = ::write(gSignalFd[1], &c, 1);
  (void)n;
}

bool HasArg(int argc, char** argv, const char* arg) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], arg) == 0) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  qv::LoadSysSet();
  if (!qv::AcquireSingleInstance(qv::InstanceLockPath())) return 0;  // one copy only

  const bool headless = HasArg(argc, argv, "--headless");
  if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");

  qv::TQvApplication app(argc, argv);
  app.setApplicationName("quorvex");
  // The window caption stays exactly as set: no display name appended to it.
  app.setQuitOnLastWindowClosed(false);  // the window hides to the tray

  std::unique_ptr<QSocketNotifier> sigNotifier;
  if (headless && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gSignalFd) == 0) {
    sigNotifier = std::make_unique<QSocketNotifier>(gSignalFd[0], QSocketNotifier::Read);

    struct sigaction sa{};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }

  std::unique_ptr<qv::IDbService> db = qv::MakeDbService();
  qv::TfrmMain frmMain(*db, headless);
  app.setWindowIcon(frmMain.windowIcon());
  app.OnException = [&frmMain](const std::string& message) { frmMain.aplctnvnts1Exception(message); };
  QObject::connect(&frmMain, &qv::TfrmMain::exitConfirmed, &app, &QApplication::quit);
  if (sigNotifier) {
    QObject::connect(sigNotifier.get(), &QSocketNotifier::activated, &app, [&frmMain] {
      frmMain.ShutDown();
      QApplication::quit();
    });
  }
  if (headless) {
    frmMain.FormShow();
  } else {
    frmMain.show();
  }
  const int rc = app.exec();
  app.OnException = nullptr;
  return rc;
}

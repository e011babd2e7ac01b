// quorvex: the service program. "--headless" runs the service without a desktop: no window,
// the operation log on standard output. SIGINT, SIGTERM or SIGHUP end it cleanly in both modes.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
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

struct TCommandLine {
  bool headless = false;
  bool check = false;
  std::string trace;  // --trace FILE
  int exitNow = -1;  // >= 0: the program ends at once with this status
};

// Parsed before anything else runs: --help and --version must start nothing and write no
// file (no lock, no log), and a missing display must end in one line, not in Qt's abort.
TCommandLine ParseCommandLine(int argc, char** argv) {
  TCommandLine cl;
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  QCoreApplication::setApplicationName("quorvex");
  QCoreApplication::setApplicationVersion(QV_VERSION);
  QCommandLineParser parser;
  parser.setApplicationDescription(
      "Serves the handheld terminals through the radio base station from the database's stored procedures.");
  const QCommandLineOption help({"h", "help"}, "Displays this help and ends.");
  const QCommandLineOption version({"v", "version"}, "Displays the version and ends.");
  const QCommandLineOption headless("headless",
                                    "Runs without a window: the operation log on standard output, "
                                    "stopped by SIGTERM or SIGINT.");
  const QCommandLineOption home("home", "Uses DIR as the data directory (as QUORVEX_HOME does).", "DIR");
  const QCommandLineOption trace("trace",
                                 "Writes every frame to and from the base station into FILE: time, "
                                 "direction, the bytes in hex and their meaning, and the port's events.",
                                 "FILE");
  const QCommandLineOption check("check",
                                 "Checks the database of datalink.ini: every stored procedure the service "
                                 "calls, its parameters and, where the server describes them, its result "
                                 "columns; status 0 when all is there.");
  for (const QCommandLineOption* o : {&help, &version, &headless, &home, &trace, &check})
    parser.addOption(*o);
  if (!parser.parse(args)) {
    std::fprintf(stderr, "quorvex: %s\nTry 'quorvex --help' for more information.\n",
                 parser.errorText().toLocal8Bit().constData());
    cl.exitNow = 2;
    return cl;
  }
  if (!parser.positionalArguments().isEmpty()) {
    std::fprintf(stderr, "quorvex: unexpected argument '%s'\nTry 'quorvex --help' for more information.\n",
                 parser.positionalArguments().first().toLocal8Bit().constData());
    cl.exitNow = 2;
    return cl;
  }
  if (parser.isSet(help)) {
    // helpText names the program from the application object's arguments.
    QCoreApplication app(argc, argv);
    std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
    cl.exitNow = 0;
    return cl;
  }
  if (parser.isSet(version)) {
    std::printf("quorvex %s\n", QV_VERSION);
    cl.exitNow = 0;
    return cl;
  }
  if (parser.isSet(home)) {
    const QByteArray dir = parser.value(home).toLocal8Bit();
    if (dir.isEmpty()) {
      std::fprintf(stderr, "quorvex: --home needs a directory\nTry 'quorvex --help' for more information.\n");
      cl.exitNow = 2;
      return cl;
    }
    setenv("QUORVEX_HOME", dir.constData(), 1);
  }
  if (parser.isSet(trace)) {
    cl.trace = parser.value(trace).toLocal8Bit().toStdString();
    if (cl.trace.empty()) {
      std::fprintf(stderr, "quorvex: --trace needs a file\nTry 'quorvex --help' for more information.\n");
      cl.exitNow = 2;
      return cl;
    }
  }
  cl.headless = parser.isSet(headless);
  cl.check = parser.isSet(check);
  const auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  if (!cl.headless && !cl.check && !set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("QT_QPA_PLATFORM")) {
    std::fprintf(stderr, "quorvex: no display to show the window on; use --headless to run without one\n");
    cl.exitNow = 2;
  }
  return cl;
}

}  // namespace

int main(int argc, char** argv) {
  const TCommandLine cl = ParseCommandLine(argc, argv);
  if (cl.exitNow >= 0) return cl.exitNow;
  qv::LoadSysSet();
  qv::SysSet().TraceFile = cl.trace;
  if (cl.check) return qv::RunDatabaseCheck();
  // One copy only; the second one says which copy holds the lock, and ends.
  const std::string lockPath = qv::InstanceLockPath();
  if (long other = 0; !qv::AcquireSingleInstance(lockPath, &other)) {
    const std::string who = other > 0 ? "(PID " + std::to_string(other) + ")" : "(PID unknown)";
    const std::string text = "another copy " + who + " holds the lock file " + lockPath + "; this one ends";
    std::fprintf(stderr, "quorvex: %s\n", text.c_str());
    qv::WriteErrLog("SingleInstance: " + text);
    return 0;
  }

  const bool headless = cl.headless;
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

#include "app/service/Headless.h"

#include <csignal>
#include <cstdio>

#include "app/service/ConsoleView.h"
#include "app/service/CoreApplication.h"
#include "app/service/DbService.h"
#include "app/service/Service.h"
#include "app/service/SignalStop.h"
#include "base/Settings.h"
#include "bridge/DbLink.h"
#include "bridge/ProcCheck.h"

namespace qv {

int RunHeadless(int& argc, char** argv) {
  TQvCoreApplication app(argc, argv);
  app.setApplicationName("quorvex");

  TSignalStop signalStop;
  std::unique_ptr<IDbService> db = MakeDbService();
  TConsoleView view;
  TService service(*db, view);
  if (!service.TraceProblem().empty())
    std::fprintf(stderr, "quorvex: warning: %s\n", service.TraceProblem().c_str());
  service.FormCreate();
  app.OnException = [&service](const std::string& message) { service.aplctnvnts1Exception(message); };
  QObject::connect(&signalStop, &TSignalStop::stopRequested, &service, [&service](int signo) {
    std::fprintf(stderr, "quorvex: %s received, stopping\n", SignalName(signo));
    service.EndBySignal();
    QCoreApplication::exit(0);
  });
  signalStop.Arm();
  service.FormShow();
  const int rc = app.exec();
  app.OnException = nullptr;
  return rc;
}

int RunDatabaseCheck() {
  // Beside a running service too: the check takes no lock and opens its own connection.
  for (const std::string& warning : CheckDataLinkIni())
    std::fprintf(stderr, "quorvex: warning: %s\n", warning.c_str());
  std::string connStr;
  GetConnectionString(connStr);
  return CheckDatabase(connStr, [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  });
}

}  // namespace qv

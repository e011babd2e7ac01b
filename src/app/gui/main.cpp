// quorvex: the service program.
#include <QIcon>

#include "app/core/Settings.h"
#include "app/gui/DbService.h"
#include "app/gui/QvApplication.h"
#include "app/gui/ServiceUtil.h"
#include "app/gui/SingleInstance.h"
#include "app/gui/uMain.h"

int main(int argc, char** argv) {
  qv::LoadSysSet();
  if (!qv::AcquireSingleInstance(qv::InstanceLockPath())) return 0;  // one copy only

  qv::TQvApplication app(argc, argv);
  app.setApplicationName("quorvex");
  app.setApplicationDisplayName(QString::fromUtf8(qv::kAppTitle));
  app.setQuitOnLastWindowClosed(false);  // the window hides to the tray

  std::unique_ptr<qv::IDbService> db = qv::MakeDbService();
  qv::TfrmMain frmMain(*db);
  app.OnException = [&frmMain](const std::string& message) { frmMain.aplctnvnts1Exception(message); };
  QObject::connect(&frmMain, &qv::TfrmMain::exitConfirmed, &app, &QApplication::quit);
  frmMain.show();
  const int rc = app.exec();
  app.OnException = nullptr;
  return rc;
}

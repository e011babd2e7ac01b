// qv-screenshots-installer DIR: the installer's window in both modes, as PNG files in DIR
// (installer-save.png, installer-install.png). Run it on a display: see scripts/screenshots.
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/Text.h"
#include "installer/gui/uDBParamSet.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string out = argv[1];
  char tmpl[] = "/tmp/qv-shots-inst-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  const std::string home = std::string(tmpl) + "/";
  setenv("QUORVEX_HOME", home.c_str(), 1);
  {
    std::ofstream f(home + "datalink.ini", std::ios::binary);
    f << qv::Utf8ToGbk(
        "[ConnectionString]\r\nDBServerType=1\r\nServer=192.168.1.20\r\nsvrInstance=SQLEXPRESS\r\n"
        "uport=1\r\nport=1433\r\nDBName=vqcydata\r\npassword=secret\r\n");
  }
  QApplication app(argc, argv);
  int failures = 0;
  for (const bool install : {false, true}) {
    qv::installer::TInstallerEnv env;
    env.ShippedDir = QV_SHIPPED_DIR "/";
    qv::Tfrm_DBParamSet form(install ? std::vector<std::string>{"install"} : std::vector<std::string>{}, env);
    form.show();
    if (install) {
      // The directory a systemd installation uses, rather than this run's temporary one.
      form.edt_DataPath->setText(QStringLiteral("/var/lib/quorvex/"));
      form.stat1->showMessage(QString::fromUtf8("检测连接服务器..."));
    }
    for (int i = 0; i < 20; ++i) {
      QApplication::processEvents();
      usleep(20000);
    }
    const std::string path = out + (install ? "/installer-install.png" : "/installer-save.png");
    if (form.grab().save(QString::fromStdString(path), "PNG")) {
      std::printf("%s\n", path.c_str());
    } else {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      ++failures;
    }
  }
  std::filesystem::remove_all(home);
  return failures ? 1 : 0;
}

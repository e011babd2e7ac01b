// brinmoor: the database installer. The window by default ("install" as the last argument
// installs, anything else saves the settings); --batch does the same without a window.
#include <QApplication>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "installer/core/Batch.h"
#include "installer/gui/uDBParamSet.h"

namespace {

constexpr const char kNoDisplay[] =
    "brinmoor: no display to show the window on; use brinmoor --batch to install or save without one (see "
    "--help)\n";

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (qv::installer::WantsHelp(args)) {
    qv::installer::PrintHelp(std::cout);
    return 0;
  }
  if (qv::installer::WantsBatch(args))
    return qv::installer::RunBatch(args, qv::installer::TInstallerEnv{}, std::cin, std::cout, std::cerr);

  // A desktop that is not there ends the program with a line, not with the toolkit's abort.
  const bool chosen = !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
  if (!chosen) {
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
      std::fputs(kNoDisplay, stderr);
      return 1;
    }
    if (qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
      qputenv("QT_QPA_PLATFORM", "xcb;offscreen");
      qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    }
  }
  QApplication app(argc, argv);
  if (!chosen && QGuiApplication::platformName() == QLatin1String("offscreen")) {
    std::fputs(kNoDisplay, stderr);
    return 1;
  }
  qunsetenv("QT_LOGGING_RULES");
  // The toolkit has taken its own options out of argv.
  qv::Tfrm_DBParamSet form(std::vector<std::string>(argv + 1, argv + argc));
  form.show();
  return app.exec();
}

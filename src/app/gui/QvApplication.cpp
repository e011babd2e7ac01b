#include "app/gui/QvApplication.h"

#include <exception>

namespace qv {

TQvApplication::TQvApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TQvApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& e) {
    try {
      if (OnException) OnException(e.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      if (OnException) OnException("");
    } catch (...) {
    }
  }
  return false;
}

bool IsNetworkErrorText(const std::string& message) {
  return message.find("一般性网络错误") != std::string::npos;
}

}  // namespace qv

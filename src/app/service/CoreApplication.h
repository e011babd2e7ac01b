#pragma once
// The global exception handler: the application object's notify swallows whatever reaches
// the event loop and passes its message on, so that one failed event handler does not end
// the service. The same rule holds with and without the window.
#include <QCoreApplication>
#include <exception>
#include <functional>
#include <string>

namespace qv {

template <class TApp>
class TGuardedApplication : public TApp {
 public:
  TGuardedApplication(int& argc, char** argv) : TApp(argc, argv) {}

  bool notify(QObject* receiver, QEvent* event) override {
    try {
      return TApp::notify(receiver, event);
    } catch (const std::exception& e) {
      Report(e.what());
    } catch (...) {
      Report("");
    }
    return false;
  }

  // Called with the exception's message (aplctnvnts1Exception).
  std::function<void(const std::string&)> OnException;

 private:
  void Report(const std::string& message) {
    try {
      if (OnException) OnException(message);
    } catch (...) {
    }
  }
};

// The application object of the service without a window.
class TQvCoreApplication : public TGuardedApplication<QCoreApplication> {
 public:
  using TGuardedApplication::TGuardedApplication;
};

// True when the message names a lost network connection ("一般性网络错误").
bool IsNetworkErrorText(const std::string& message);

}  // namespace qv

#pragma once
// The application object; its notify is the global exception handler: whatever reaches
// the loop is swallowed, and a network error marks the database link as lost.
#include <QApplication>
#include <functional>

namespace qv {

class TQvApplication : public QApplication {
 public:
  TQvApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;

  // Called with the exception's message (aplctnvnts1Exception).
  std::function<void(const std::string&)> OnException;
};

// True when the message names a lost network connection ("一般性网络错误").
bool IsNetworkErrorText(const std::string& message);

}  // namespace qv

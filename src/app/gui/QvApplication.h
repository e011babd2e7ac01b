#pragma once
// The application object of the window; its notify is the global exception handler:
// whatever reaches the loop is swallowed, and a network error marks the database link as
// lost.
#include <QApplication>

#include "app/service/CoreApplication.h"

namespace qv {

class TQvApplication : public TGuardedApplication<QApplication> {
 public:
  TQvApplication(int& argc, char** argv);
};

}  // namespace qv

#include "app/service/QtPump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace qv {

void TQtPump::ProcessMessages() {
  QCoreApplication::processEvents();
}

void TQtPump::Sleep(uint32_t ms) {
  // The timer's own event ends the wait at the deadline.
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  wake.start(static_cast<int>(ms));
  QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

TQtPump& QtPump() {
  static TQtPump pump;
  return pump;
}

}  // namespace qv

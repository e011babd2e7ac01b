#include "app/service/QtDbWait.h"

#include <poll.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

namespace qv {

db::IDbWait::TResult TQtDbWait::WaitReadable(int Fd, int TimeoutMs) {
  pollfd p{Fd, POLLIN, 0};
  if (poll(&p, 1, 0) > 0) return TResult::Ready;
  ++depth_;
  cancel_ = false;
  bool ready = false, late = false;
  QSocketNotifier notifier(Fd, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    ready = true;
    notifier.setEnabled(false);  // level-triggered: once is enough
  });
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.setTimerType(Qt::PreciseTimer);
  QObject::connect(&deadline, &QTimer::timeout, [&late] { late = true; });
  if (TimeoutMs >= 0) deadline.start(TimeoutMs);
  while (!ready && !late && !cancel_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  --depth_;
  if (cancel_) {
    cancel_ = false;
    return TResult::Cancelled;
  }
  return ready ? TResult::Ready : TResult::TimedOut;
}

void TQtDbWait::Cancel() {
  if (depth_ == 0) return;
  cancel_ = true;
  if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance()) d->wakeUp();
}

}  // namespace qv

#include "app/service/QtCommDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace qv {

void TQtCommDispatcher::Post(std::function<void()> call) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return;  // shutting down: nobody left to deliver to
  QMetaObject::invokeMethod(app, std::move(call), Qt::QueuedConnection);
}

TQtCommDispatcher& QtCommDispatcher() {
  static TQtCommDispatcher dispatcher;
  return dispatcher;
}

}  // namespace qv

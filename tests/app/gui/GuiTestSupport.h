#pragma once
// Shared pieces of the window tests: driving modal dialogs and message boxes, and what the
// service tests share (a fresh program directory, a fake database, a scripted base
// station on a pseudo-terminal).
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "ServiceTestSupport.h"

namespace qv::test {

// The window tests' program directory is the service tests' one.
using GuiHome = ServiceHome;

// What a message box showed.
struct TBoxSeen {
  bool seen = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton def = QMessageBox::NoButton;
};

// Runs fn on the next modal widget of type T as soon as it is up (checked from the event
// loop). A widget that never comes fails the test after many passes.
void OnModalWidget(const QMetaObject* type, std::function<void(QWidget*)> fn, int passes = 0);
template <class T>
void OnModal(std::function<void(T*)> fn) {
  OnModalWidget(&T::staticMetaObject, [fn](QWidget* w) { fn(static_cast<T*>(w)); });
}
// Records the next message box and answers it with answer.
void AnswerBox(TBoxSeen& seen, QMessageBox::StandardButton answer);

}  // namespace qv::test

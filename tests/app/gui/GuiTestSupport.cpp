#include "GuiTestSupport.h"

#include <QAbstractButton>
#include <QPushButton>

namespace qv::test {

void OnModalWidget(const QMetaObject* type, std::function<void(QWidget*)> fn, int passes) {
  QTimer::singleShot(passes < 20 ? 0 : 5, qApp, [type, fn, passes] {
    QWidget* w = QApplication::activeModalWidget();
    if (w && w->isVisible() && type->cast(w)) {
      fn(w);
      return;
    }
    if (passes > 4000) {
      ADD_FAILURE() << "no modal " << type->className() << " came up";
      if (w) w->close();
      return;
    }
    OnModalWidget(type, fn, passes + 1);
  });
}

void AnswerBox(TBoxSeen& seen, QMessageBox::StandardButton answer) {
  OnModal<QMessageBox>([&seen, answer](QMessageBox* box) {
    seen.seen = true;
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.def = box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
    if (QAbstractButton* b = box->button(answer))
      b->click();
    else
      box->reject();
  });
}

}  // namespace qv::test

#include "app/gui/MsgBox.h"

#include "app/service/ServiceUtil.h"

namespace qv {

int MsgBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton def) {
  QMessageBox box(icon, title, text, buttons, parent);
  if (def != QMessageBox::NoButton) box.setDefaultButton(def);
  return box.exec();
}

void ShowMessage(QWidget* parent, const QString& text) {
  MsgBox(parent, QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), text);
}

}  // namespace qv

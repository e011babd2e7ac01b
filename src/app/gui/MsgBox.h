#pragma once
// Message boxes in the program's own form.
#include <QMessageBox>
#include <QString>

namespace qv {

// A modal message box with the given title, text, icon, buttons and default button;
// returns the button chosen.
int MsgBox(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
           QMessageBox::StandardButtons buttons = QMessageBox::Ok,
           QMessageBox::StandardButton def = QMessageBox::NoButton);
// A plain notice titled with the application title.
void ShowMessage(QWidget* parent, const QString& text);

}  // namespace qv

#include "app/gui/uPosSet.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <algorithm>

#include "base/Text.h"
#include "app/gui/MsgBox.h"
#include "app/service/ServiceUtil.h"

namespace qv {

TfrmPosSet::TfrmPosSet(const std::vector<std::string>& posNoList, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      posNoList_(posNoList) {
  setObjectName("frmPosSet");
  setWindowTitle(QStringLiteral("添加"));
  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel(QStringLiteral("机号:"), this), 0, 0);
  edtPADNo = new QLineEdit(this);
  edtPADNo->setObjectName("edtPADNo");
  edtPADNo->setMaxLength(10);
  edtPADNo->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edtPADNo));
  grid->addWidget(edtPADNo, 0, 1);
  lblTip = new QLabel(QStringLiteral("机号为盘点机序列号的后7位"), this);
  lblTip->setObjectName("lblTip");
  lblTip->setStyleSheet("color: red;");
  grid->addWidget(lblTip, 1, 0, 1, 2);
  grid->addWidget(new QLabel(QStringLiteral("版本号:"), this), 2, 0);
  cbbVer = new QComboBox(this);
  cbbVer->setObjectName("cbbVer");
  cbbVer->addItem(QStringLiteral("V4.00"));
  cbbVer->setCurrentIndex(0);
  cbbVer->setEnabled(false);
  grid->addWidget(cbbVer, 2, 1);
  auto* buttons = new QHBoxLayout;
  btnSave = new QPushButton(QStringLiteral("确认"), this);
  btnSave->setObjectName("btnSave");
  btnSave->setDefault(true);
  btnClose = new QPushButton(QStringLiteral("退出"), this);
  btnClose->setObjectName("btnClose");
  btnClose->setAutoDefault(false);
  buttons->addWidget(btnSave);
  buttons->addWidget(btnClose);
  grid->addLayout(buttons, 3, 0, 1, 2);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  connect(btnClose, &QPushButton::clicked, this, [this] {
    Ret_Value.clear();
    reject();
  });
}

void TfrmPosSet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  Ret_Value.clear();
  edtPADNo->setFocus();
}

void TfrmPosSet::btnSaveClick() {
  const std::string n = Trim(S(edtPADNo->text()));
  if (n.empty()) {
    edtPADNo->setFocus();
    ShowMessage(this, QStringLiteral("机号不能为空!"));
    return;
  }
  if (std::find(posNoList_.begin(), posNoList_.end(), n) != posNoList_.end()) {
    ShowMessage(this, QStringLiteral("机号已经存在!号码为:") + Q(n));
    return;
  }
  if (StrToIntDef(n, 0) <= 0) {
    edtPADNo->setFocus();
    ShowMessage(this, QStringLiteral("机号输入不正确!请输入大于0的整数"));
    return;
  }
  Ret_Value = n + "," + Trim(S(cbbVer->currentText()));
  accept();
}

}  // namespace qv

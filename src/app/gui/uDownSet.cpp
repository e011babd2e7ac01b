#include "app/gui/uDownSet.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "base/IniFile.h"
#include "base/Settings.h"

namespace qv {

TfrmDownSet::TfrmDownSet(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName("frmDownSet");
  setWindowTitle(QStringLiteral("下传设置"));
  auto* vbox = new QVBoxLayout(this);
  auto* grpType = new QGroupBox(QStringLiteral("数据类型"), this);
  grpType->setObjectName("grpType");
  static const char* const kCaptions[10] = {nullptr,    "酒店名称", "菜品类别",     "菜品资料", "菜品多规格",
                                            "套菜明细", "做法信息", "菜品私有做法", "退菜原因", "折扣方案"};
  auto* g = new QGridLayout(grpType);
  for (int p = 1; p <= 9; ++p) {
    chk[p] = new QCheckBox(QString::fromUtf8(kCaptions[p]), grpType);
    chk[p]->setObjectName(QStringLiteral("chk%1").arg(p));
    g->addWidget(chk[p], (p - 1) / 3, (p - 1) % 3);
  }
  vbox->addWidget(grpType);
  auto* grpMode = new QGroupBox(QStringLiteral("下传方式"), this);
  grpMode->setObjectName("grpMode");
  chkDownAll = new QCheckBox(QStringLiteral("广播下传(同时下传至所有点菜宝)"), grpMode);
  chkDownAll->setObjectName("chkDownAll");
  (new QVBoxLayout(grpMode))->addWidget(chkDownAll);
  vbox->addWidget(grpMode);
  auto* h = new QHBoxLayout;
  auto button = [&](const QString& text, const char* name) {
    auto* b = new QPushButton(text, this);
    b->setObjectName(name);
    b->setAutoDefault(false);
    h->addWidget(b);
    return b;
  };
  btnAll = button(QStringLiteral("全选"), "btnAll");
  btnNoAll = button(QStringLiteral("反选"), "btnNoAll");
  btnSave = button(QStringLiteral("确认"), "btnSave");
  btnClose = button(QStringLiteral("退出"), "btnClose");
  vbox->addLayout(h);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  connect(btnAll, &QPushButton::clicked, this, [this] { btnAllClick(); });
  connect(btnNoAll, &QPushButton::clicked, this, [this] { btnNoAllClick(); });
  connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  connect(btnClose, &QPushButton::clicked, this, [this] { reject(); });
}

QCheckBox* TfrmDownSet::Box(int p) const {
  return findChild<QCheckBox*>(QStringLiteral("chk%1").arg(p));
}

void TfrmDownSet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  const std::string& t = SysSet().TransData;
  for (int p = 1; p <= 9; ++p) Box(p)->setChecked(static_cast<size_t>(p) <= t.size() && t[p - 1] == '1');
  chkDownAll->setChecked(SysSet().Broadcast);
}

void TfrmDownSet::btnAllClick() {
  for (int p = 1; p <= 9; ++p) Box(p)->setChecked(true);
}

void TfrmDownSet::btnNoAllClick() {
  for (int p = 1; p <= 9; ++p) Box(p)->setChecked(!Box(p)->isChecked());
}

std::string TfrmDownSet::GetTransData() const {
  std::string s;
  for (int p = 1; p <= 9; ++p) s += Box(p)->isChecked() ? '1' : '0';
  return s;
}

void TfrmDownSet::btnSaveClick() {
  SysSet().TransData = GetTransData();
  SysSet().Broadcast = chkDownAll->isChecked();
  TIniFile ini = DataLinkIni();
  ini.WriteString("SysSet", "TransData", SysSet().TransData);
  ini.WriteBool("SysSet", "Broadcast", SysSet().Broadcast);
  accept();
}

}  // namespace qv

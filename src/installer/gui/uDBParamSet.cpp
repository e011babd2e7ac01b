#include "installer/gui/uDBParamSet.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include "installer/core/Texts.h"

namespace qv {
namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}
std::string S(const QString& s) {
  return s.toStdString();
}

QMessageBox::Icon BoxIcon(installer::TIcon Icon) {
  switch (Icon) {
    case installer::TIcon::Information:
      return QMessageBox::Information;
    case installer::TIcon::Question:
      return QMessageBox::Question;
    case installer::TIcon::Warning:
      return QMessageBox::Warning;
    default:
      return QMessageBox::NoIcon;
  }
}

class TWindowUi final : public installer::IInstallerUi {
 public:
  explicit TWindowUi(Tfrm_DBParamSet& Form) : form_(Form) {}
  void Status(const std::string& Text) override {
    form_.stat1->showMessage(Q(Text));
    form_.stat1->repaint();  // the installation holds the event loop
  }
  void Message(installer::TIcon Icon, const std::string& Title, const std::string& Text) override {
    QMessageBox box(BoxIcon(Icon), Q(Title), Q(Text), QMessageBox::Ok, &form_);
    box.exec();
  }
  bool ConfirmReplace(const std::string& Title, const std::string& Text) override {
    QMessageBox box(QMessageBox::Question, Q(Title), Q(Text), QMessageBox::Ok | QMessageBox::Cancel, &form_);
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
  }
  void FocusDirectory() override {
    if (form_.edt_DataPath->isVisible() && form_.edt_DataPath->isEnabled()) form_.edt_DataPath->setFocus();
  }

 private:
  Tfrm_DBParamSet& form_;
};

QLabel* Caption(const char* Text, QWidget* Parent) {
  return new QLabel(QString::fromUtf8(Text), Parent);
}

}  // namespace

Tfrm_DBParamSet::Tfrm_DBParamSet(const std::vector<std::string>& Args, installer::TInstallerEnv Env,
                                 QWidget* Parent)
    : QWidget(Parent), env_(std::move(Env)) {
  // Every argument in turn, so that the last one remains.
  for (const std::string& a : Args) InputParam = installer::InputParam({a});
  setObjectName("frm_DBParamSet");
  setWindowTitle(QString::fromUtf8("服务器端安装程序"));

  auto* header = new QFrame(this);
  header->setObjectName("header");
  header->setAutoFillBackground(true);
  QPalette pal = header->palette();
  pal.setColor(QPalette::Window, Qt::white);
  header->setPalette(pal);
  header->setFrameShape(QFrame::StyledPanel);
  imgLogo = new QLabel(header);
  imgLogo->setObjectName("imgLogo");
  imgLogo->setPixmap(QPixmap(":/brinmoor/logo.jpg", "JPEG"));
  lblHeader = Caption("数据库安装/配置", header);
  lblHeader->setObjectName("lblHeader");
  QFont big = lblHeader->font();
  big.setPointSizeF(big.pointSizeF() * 1.5);
  big.setBold(true);
  lblHeader->setFont(big);
  imgHeader = new QLabel(header);
  imgHeader->setObjectName("imgHeader");
  imgHeader->setPixmap(QPixmap(":/brinmoor/header.jpg", "JPEG"));
  auto* hl = new QHBoxLayout(header);
  hl->setContentsMargins(8, 4, 0, 4);
  hl->addWidget(imgLogo);
  hl->addWidget(lblHeader);
  hl->addStretch(1);
  hl->addWidget(imgHeader);

  auto* form = new QGridLayout;
  int row = 0;
  cbbtype = new QComboBox(this);
  cbbtype->setObjectName("cbbtype");
  for (const char* t : installer::kDbTypes) cbbtype->addItem(QString::fromUtf8(t));
  form->addWidget(Caption("数据库类型：", this), row, 0);
  form->addWidget(cbbtype, row++, 1, 1, 2);
  edt1 = new QLineEdit(QStringLiteral("SQLEXPRESS"), this);
  edt1->setObjectName("edt1");
  form->addWidget(Caption("实例名：", this), row, 0);
  form->addWidget(edt1, row++, 1, 1, 2);
  edt_ServerName = new QLineEdit(QStringLiteral("(Local)"), this);
  edt_ServerName->setObjectName("edt_ServerName");
  form->addWidget(Caption("服务器名称/IP：", this), row, 0);
  form->addWidget(edt_ServerName, row++, 1, 1, 2);
  chk2 = new QCheckBox(QString::fromUtf8("端口："), this);
  chk2->setObjectName("chk2");
  edtPort = new QLineEdit(QStringLiteral("1433"), this);
  edtPort->setObjectName("edtPort");
  form->addWidget(chk2, row, 0);
  form->addWidget(edtPort, row++, 1, 1, 2);
  chkSafe = new QCheckBox(QString::fromUtf8("使用系统用户登陆数据库系统"), this);
  chkSafe->setObjectName("chkSafe");
  form->addWidget(chkSafe, row++, 0, 1, 3);
  edt_ConnUser = new QLineEdit(QStringLiteral("sa"), this);
  edt_ConnUser->setObjectName("edt_ConnUser");
  form->addWidget(Caption("用户名：", this), row, 0);
  form->addWidget(edt_ConnUser, row++, 1, 1, 2);
  edt_Pwd = new QLineEdit(this);
  edt_Pwd->setObjectName("edt_Pwd");
  edt_Pwd->setEchoMode(QLineEdit::Password);
  // "*" whatever the style would draw.
  edt_Pwd->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
  form->addWidget(Caption("密  码：", this), row, 0);
  form->addWidget(edt_Pwd, row++, 1, 1, 2);
  chk1 = new QCheckBox(QString::fromUtf8("指定安装的数据库名称："), this);
  chk1->setObjectName("chk1");
  edt_DBName = new QLineEdit(this);
  edt_DBName->setObjectName("edt_DBName");
  form->addWidget(chk1, row, 0);
  form->addWidget(edt_DBName, row++, 1, 1, 2);
  lblDataPath = Caption("文件存放目录：", this);
  lblDataPath->setObjectName("lblDataPath");
  edt_DataPath = new QLineEdit(this);
  edt_DataPath->setObjectName("edt_DataPath");
  Button1 = new QPushButton(QString::fromUtf8("浏览"), this);
  Button1->setObjectName("Button1");
  form->addWidget(lblDataPath, row, 0);
  form->addWidget(edt_DataPath, row, 1);
  form->addWidget(Button1, row++, 2);
  form->setColumnStretch(1, 1);

  btn1 = new QPushButton(QString::fromUtf8("测试连接"), this);
  btn1->setObjectName("btn1");
  BitBtn1 = new QPushButton(QString::fromUtf8("保存"), this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
  BitBtn1->setDefault(true);
  BitBtn2 = new QPushButton(QString::fromUtf8("取消"), this);
  BitBtn2->setObjectName("BitBtn2");
  BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btn1);
  buttons->addStretch(1);
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);

  stat1 = new QStatusBar(this);
  stat1->setObjectName("stat1");
  stat1->setSizeGripEnabled(false);

  auto* body = new QVBoxLayout;
  body->setContentsMargins(16, 12, 16, 8);
  body->addLayout(form);
  body->addSpacing(8);
  body->addLayout(buttons);
  auto* top = new QVBoxLayout(this);
  top->setContentsMargins(0, 0, 0, 0);
  top->setSpacing(0);
  top->addWidget(header);
  top->addLayout(body);
  top->addWidget(stat1);

  connect(cbbtype, &QComboBox::currentIndexChanged, this, [this] { ApplyEnabling(); });
  connect(chk2, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(chkSafe, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(chk1, &QCheckBox::toggled, this, [this] { ApplyEnabling(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(btn1, &QPushButton::clicked, this, [this] { btn1Click(); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { close(); });
  ApplyEnabling();
}

void Tfrm_DBParamSet::showEvent(QShowEvent* Event) {
  QWidget::showEvent(Event);
  if (shown_) return;
  shown_ = true;
  FormShow();
}

void Tfrm_DBParamSet::FormShow() {
  Setup = installer::ReadSetupIni(env_.ShippedDir);
  setWindowTitle(Q(Setup.ProductName));
  imgLogo->setVisible(installer::ShowLogo(Setup));
  ShowFields(installer::LoadDataLink());
  const bool install = InstallMode();
  lblDataPath->setVisible(install);
  edt_DataPath->setVisible(install);
  Button1->setVisible(install);
  BitBtn1->setText(QString::fromUtf8(install ? "安装" : "保存"));
}

void Tfrm_DBParamSet::ApplyEnabling() {
  edt1->setEnabled(cbbtype->currentIndex() == 1);
  edtPort->setEnabled(chk2->isChecked());
  edt_ConnUser->setEnabled(!chkSafe->isChecked());
  edt_Pwd->setEnabled(!chkSafe->isChecked());
  edt_DBName->setEnabled(chk1->isChecked());
}

installer::TDbParams Tfrm_DBParamSet::Fields() const {
  installer::TDbParams p;
  p.DbType = cbbtype->currentIndex();
  p.Instance = S(edt1->text());
  p.Server = S(edt_ServerName->text());
  p.UsePort = chk2->isChecked();
  p.Port = S(edtPort->text());
  p.NTAuth = chkSafe->isChecked();
  p.User = S(edt_ConnUser->text());
  p.Password = S(edt_Pwd->text());
  p.NameDb = chk1->isChecked();
  p.DbName = S(edt_DBName->text());
  p.Directory = S(edt_DataPath->text());
  return p;
}

void Tfrm_DBParamSet::ShowFields(const installer::TDbParams& P) {
  cbbtype->setCurrentIndex(P.DbType >= 0 && P.DbType < cbbtype->count() ? P.DbType : -1);
  edt1->setText(Q(P.Instance));
  edt_ServerName->setText(Q(P.Server));
  chk2->setChecked(P.UsePort);
  edtPort->setText(Q(P.Port));
  chkSafe->setChecked(P.NTAuth);
  edt_ConnUser->setText(Q(P.User));
  edt_Pwd->setText(Q(P.Password));
  chk1->setChecked(P.NameDb);
  edt_DBName->setText(Q(P.DbName));
  edt_DataPath->setText(Q(P.Directory));
  ApplyEnabling();
}

std::string Tfrm_DBParamSet::BuildConnectionString() const {
  return installer::BuildConnectionString(Fields(), InstallMode());
}

bool Tfrm_DBParamSet::CheckInput() {
  const installer::TInputCheck c = installer::CheckInput(Fields(), Setup, env_.ShippedDir);
  if (c.Ok) return true;
  TWindowUi ui(*this);
  ui.Message(installer::TIcon::Information, installer::kTitleInfo, c.Message);
  if (c.FocusDirectory) ui.FocusDirectory();
  return false;
}

void Tfrm_DBParamSet::SaveDataLink() {
  installer::SaveDataLink(Fields());
  close();
}

void Tfrm_DBParamSet::Button1Click() {
  const QString dir = QFileDialog::getExistingDirectory(this, QString::fromUtf8("选择数据库文件存放目录"),
                                                        edt_DataPath->text(), QFileDialog::ShowDirsOnly);
  if (!dir.isEmpty()) edt_DataPath->setText(dir);
}

void Tfrm_DBParamSet::btn1Click() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const installer::TTestResult r = installer::TestConnection(Fields(), InstallMode(), env_);
  QApplication::restoreOverrideCursor();
  QMessageBox box(QMessageBox::Information, QString::fromUtf8(installer::kTitleInfo),
                  Q(installer::TestMessage(r)), QMessageBox::Ok, this);
  box.exec();
}

void Tfrm_DBParamSet::BitBtn1Click() {
  if (!InstallMode()) {
    SaveDataLink();
    return;
  }
  TWindowUi ui(*this);
  // The core saves the settings at the end of every run that closes the window.
  const installer::TInstallOutcome o = installer::Install(Fields(), Setup, env_, ui);
  if (installer::EndsRun(o.Result)) close();
}

}  // namespace qv

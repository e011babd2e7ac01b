#include "app/gui/uOtherSet.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "app/service/Autostart.h"
#include "app/service/DbService.h"
#include "app/gui/MsgBox.h"
#include "app/service/ServiceUtil.h"

namespace qv {

std::string BuildLinkString(bool ntAuth, const std::string& user, const std::string& pwd,
                            const std::string& server, bool usePort, const std::string& port,
                            const std::string& dbName) {
  std::string s = "Provider=SQLOLEDB.1;";
  if (ntAuth)
    s += "Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=" + Trim(dbName);
  else
    s += "Persist Security Info=False;Initial Catalog=" + Trim(dbName) + ";User ID=" + Trim(user) +
         ";Password=" + Trim(pwd);
  s += ";Data Source=" + Trim(server);
  if (usePort) s += "," + Trim(port);
  return s;
}

namespace {

QLineEdit* DigitsOnly(QLineEdit* e) {
  e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
  return e;
}

}  // namespace

TfrmOtherSet::TfrmOtherSet(IDbService& db, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      db_(db) {
  setObjectName("frmOtherSet");
  setWindowTitle(QStringLiteral("其它选项"));
  auto* vbox = new QVBoxLayout(this);
  pgc1 = new QTabWidget(this);
  pgc1->setObjectName("pgc1");
  vbox->addWidget(pgc1);

  auto edit = [](QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    return e;
  };

  auto* pageDb = new QWidget(pgc1);
  pageDb->setObjectName("tsDb");
  {
    auto* g = new QGridLayout(pageDb);
    int row = 0;
    g->addWidget(new QLabel(QStringLiteral("数据库类型："), pageDb), row, 0);
    cbbtype = new QComboBox(pageDb);
    cbbtype->setObjectName("cbbtype");
    cbbtype->addItem(QStringLiteral("MS-SQLSERVER"));
    g->addWidget(cbbtype, row++, 1, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("服务器名称/IP："), pageDb), row, 0);
    edt_ServerName = edit(pageDb, "edt_ServerName");
    edt_ServerName->setText(QStringLiteral("(Local)"));
    g->addWidget(edt_ServerName, row++, 1, 1, 2);
    chk2 = new QCheckBox(QStringLiteral("端口："), pageDb);
    chk2->setObjectName("chk2");
    edtPort = edit(pageDb, "edtPort");
    edtPort->setText(QStringLiteral("1433"));
    g->addWidget(chk2, row, 0);
    g->addWidget(edtPort, row++, 1, 1, 2);
    chkSafe = new QCheckBox(QStringLiteral("使用系统用户登陆数据库系统"), pageDb);
    chkSafe->setObjectName("chkSafe");
    g->addWidget(chkSafe, row++, 0, 1, 3);
    g->addWidget(new QLabel(QStringLiteral("用户名："), pageDb), row, 0);
    edt_ConnUser = edit(pageDb, "edt_ConnUser");
    edt_ConnUser->setText(QStringLiteral("sa"));
    g->addWidget(edt_ConnUser, row++, 1, 1, 2);
    g->addWidget(new QLabel(QStringLiteral("密  码："), pageDb), row, 0);
    edt_Pwd = edit(pageDb, "edt_Pwd");
    edt_Pwd->setEchoMode(QLineEdit::Password);
    edt_Pwd->setStyleSheet("lineedit-password-character: 42");  // '*', not the style's dot
    g->addWidget(edt_Pwd, row++, 1, 1, 2);
    lblInstance = new QLabel(QStringLiteral("实例名："), pageDb);
    edt1 = edit(pageDb, "edt1");
    edt1->setText(QStringLiteral("SQLEXPRESS"));
    g->addWidget(lblInstance, row, 0);
    g->addWidget(edt1, row++, 1, 1, 2);
    lblInstance->hide();
    edt1->hide();
    g->addWidget(new QLabel(QStringLiteral("连接数据库名称:"), pageDb), row, 0);
    edt_DBName = edit(pageDb, "edt_DBName");
    g->addWidget(edt_DBName, row++, 1, 1, 2);
    lblShopNo = new QLabel(QStringLiteral("门店代号:"), pageDb);
    edtShopNo = edit(pageDb, "edtShopNo");
    edtShopNo->setMaxLength(20);
    g->addWidget(lblShopNo, row, 0);
    g->addWidget(edtShopNo, row++, 1, 1, 2);
    btn1 = new QPushButton(QStringLiteral("测试连接"), pageDb);
    btn1->setObjectName("btn1");
    g->addWidget(btn1, row++, 2);
  }
  pgc1->addTab(pageDb, QStringLiteral("连接数据库"));

  auto* pageSys = new QWidget(pgc1);
  pageSys->setObjectName("tsSys");
  {
    auto* g = new QGridLayout(pageSys);
    int row = 0;
    chk5 = new QCheckBox(QStringLiteral("服务器随操作系统启动（无需手动启动服务器）"), pageSys);
    chk5->setObjectName("chk5");
    g->addWidget(chk5, row++, 0, 1, 4);
    chk1 = new QCheckBox(QStringLiteral("输出操作日志"), pageSys);
    chk1->setObjectName("chk1");
    g->addWidget(chk1, row++, 0, 1, 4);
    chk6 = new QCheckBox(QStringLiteral("输出调试数据（生成Result.txt文件）"), pageSys);
    chk6->setObjectName("chk6");
    g->addWidget(chk6, row++, 0, 1, 4);
    g->addWidget(new QLabel(QStringLiteral("文件限制"), pageSys), row, 0);
    edt5 = DigitsOnly(edit(pageSys, "edt5"));
    edt5->setText(QStringLiteral("5120"));
    g->addWidget(edt5, row, 1);
    g->addWidget(new QLabel(QStringLiteral("kb"), pageSys), row++, 2);
    g->addWidget(new QLabel(QStringLiteral("主界面操作日志达到此数量时清屏:"), pageSys), row, 0);
    edtLogCount = DigitsOnly(edit(pageSys, "edtLogCount"));
    edtLogCount->setMaxLength(4);
    g->addWidget(edtLogCount, row++, 1);
    lblCommPsw = new QLabel(QStringLiteral("通迅密码:"), pageSys);
    edtCommPsw = DigitsOnly(edit(pageSys, "edtCommPsw"));
    edtCommPsw->setMaxLength(4);
    g->addWidget(lblCommPsw, row, 0);
    g->addWidget(edtCommPsw, row++, 1);
    auto* lblBaseNo = new QLabel(QStringLiteral("基站号:"), pageSys);
    edtBaseNo = DigitsOnly(edit(pageSys, "edtBaseNo"));
    auto* lblDelay = new QLabel(QStringLiteral("扫描延时:"), pageSys);
    edtDelay = DigitsOnly(edit(pageSys, "edtDelay"));
    for (QWidget* w : std::initializer_list<QWidget*>{lblBaseNo, edtBaseNo, lblDelay, edtDelay}) w->hide();
    g->setRowStretch(row, 1);
  }
  pgc1->addTab(pageSys, QStringLiteral("系统选项"));

  auto* bottom = new QHBoxLayout;
  lblNote = new QLabel(QStringLiteral("注意：改变设置参数，必须重启服务器才能生效"), this);
  lblNote->setObjectName("lblNote");
  lblNote->setStyleSheet("color: red;");
  BitBtn1 = new QPushButton(QStringLiteral("保存"), this);
  BitBtn1->setObjectName("BitBtn1");
  BitBtn2 = new QPushButton(QStringLiteral("取消"), this);
  BitBtn2->setObjectName("BitBtn2");
  bottom->addWidget(lblNote, 1);
  bottom->addWidget(BitBtn1);
  bottom->addWidget(BitBtn2);
  vbox->addLayout(bottom);
  for (QPushButton* b : {btn1, BitBtn1, BitBtn2}) b->setAutoDefault(false);

  connect(chkSafe, &QCheckBox::toggled, this, [this] { chkSafeClick(); });
  connect(chk2, &QCheckBox::toggled, this, [this] { chk2Click(); });
  connect(chk6, &QCheckBox::toggled, this, [this] { chk6Click(); });
  connect(btn1, &QPushButton::clicked, this, [this] { btn1Click(); });
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, [this] { reject(); });
  chkSafeClick();
  chk2Click();
  chk6Click();
}

void TfrmOtherSet::chkSafeClick() {
  edt_ConnUser->setEnabled(!chkSafe->isChecked());
  edt_Pwd->setEnabled(!chkSafe->isChecked());
}

void TfrmOtherSet::chk2Click() {
  edtPort->setEnabled(chk2->isChecked());
}

void TfrmOtherSet::chk6Click() {
  edt5->setEnabled(chk6->isChecked());
}

void TfrmOtherSet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  const TIniFile ini = DataLinkIni();
  const std::string c = "ConnectionString";
  cbbtype->setCurrentIndex(ini.ReadInteger(c, "DBServerType", 0));
  chkSafe->setChecked(ini.ReadBool(c, "NTAuth", false));
  edt_Pwd->setText(Q(ini.ReadString(c, "PassWord", "")));
  edt_DBName->setText(Q(ini.ReadString(c, "DBName", "vqcydata")));
  edt_ServerName->setText(Q(ini.ReadString(c, "Server", "(Local)")));
  chk2->setChecked(ini.ReadBool(c, "uport", false));
  edtPort->setText(QString::number(ini.ReadInteger(c, "port", 1433)));
  edt1->setText(Q(ini.ReadString(c, "svrInstance", "SQLEXPRESS")));
  const std::string s = "SysSet";
  chk6->setChecked(ini.ReadBool(s, "writeResult", false));
  edt5->setText(Q(ini.ReadString(s, "maxsizeResult", "5120")));
  chk1->setChecked(ini.ReadBool(s, "writeCommLog", false));
  edtDelay->setText(Q(ini.ReadString(s, "DelayCount", "200")));
  edtLogCount->setText(Q(ini.ReadString(s, "iMaxLogCount", "50")));
  edtShopNo->setText(Q(SysSet().ShopNO));
  edtBaseNo->setText(QString::number(SysSet().iBaseStationID));
  edtCommPsw->setText(QString::number(SysSet().BaseCommPsw));
  chk5->setChecked(AutostartRegistered());
  const bool stock = SysSet().SYS_SERVER_TYPE == 1;
  lblShopNo->setVisible(stock);
  edtShopNo->setVisible(stock);
  lblCommPsw->setVisible(!stock);
  edtCommPsw->setVisible(!stock);
  chkSafeClick();
  chk2Click();
  chk6Click();
}

std::string TfrmOtherSet::GetLinkString() const {
  try {
    return BuildLinkString(chkSafe->isChecked(), S(edt_ConnUser->text()), S(edt_Pwd->text()),
                           S(edt_ServerName->text()), chk2->isChecked(), S(edtPort->text()),
                           S(edt_DBName->text()));
  } catch (...) {
    return {};
  }
}

void TfrmOtherSet::btn1Click() {
  const std::string s = GetLinkString();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  bool ok = false;
  try {
    ok = db_.TestLinkString(s);
  } catch (...) {
  }
  QApplication::restoreOverrideCursor();
  MsgBox(this, QMessageBox::Information, QStringLiteral("信息提示"),
         ok ? QStringLiteral("测试连接成功") : QStringLiteral("测试连接失败!请核对配置信息是否正确!"));
}

void TfrmOtherSet::BitBtn1Click() {
  TIniFile ini = DataLinkIni();
  const std::string c = "ConnectionString";
  ini.WriteInteger(c, "DBServerType", cbbtype->currentIndex());
  ini.WriteBool(c, "NTAuth", chkSafe->isChecked());
  ini.WriteString(c, "UserId", S(edt_ConnUser->text()));
  ini.WriteString(c, "PassWord", S(edt_Pwd->text()));
  ini.WriteString(c, "DBName", S(edt_DBName->text()));
  ini.WriteString(c, "svrInstance", S(edt1->text()));
  ini.WriteBool(c, "uport", chk2->isChecked());
  ini.WriteInteger(c, "port", StrToIntDef(S(edtPort->text()), 1433));
  ini.WriteString(c, "Server", S(edt_ServerName->text()));

  const std::string s = "SysSet";
  if (reg_Add_Del(chk5->isChecked())) ini.WriteBool(s, "startwithsys", chk5->isChecked());

  TStru_SysSet& r = SysSet();
  r.writeResult = chk6->isChecked();
  r.WriteCommLog = chk1->isChecked();
  ini.WriteBool(s, "writeResult", r.writeResult);
  ini.WriteBool(s, "WriteCommLog", r.WriteCommLog);

  r.maxsizeResult = StrToIntDef(S(edt5->text()), 5120);
  r.DelayCount = StrToIntDef(S(edtDelay->text()), 200);
  r.ShopNO = Trim(S(edtShopNo->text()));
  r.BaseCommPsw = StrToIntDef(S(edtCommPsw->text()), 0);
  r.iMaxLogCount = StrToIntDef(S(edtLogCount->text()), 50);
  r.iBaseStationID = StrToIntDef(S(edtBaseNo->text()), 0);
  ini.WriteInteger(s, "maxsizeResult", r.maxsizeResult);
  ini.WriteInteger(s, "DelayCount", r.DelayCount);
  ini.WriteString(s, "ShopNO", r.ShopNO);
  ini.WriteInteger(s, "BaseCommPsw", r.BaseCommPsw);
  ini.WriteInteger(s, "iMaxLogCount", r.iMaxLogCount);
  ini.WriteInteger(s, "iBaseStationID", r.iBaseStationID);
  accept();
}

}  // namespace qv

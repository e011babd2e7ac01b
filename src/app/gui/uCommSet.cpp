#include "app/gui/uCommSet.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QVBoxLayout>

#include "base/IniFile.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "app/service/FrameTrace.h"
#include "app/service/QtCommDispatcher.h"
#include "app/service/ServiceUtil.h"
#include "link/BaseStation.h"
#include "base/ResultCodes.h"

namespace qv {

std::string iCmdToStr(int iType) {
  switch (iType) {
    case 0:
      return "检测电台";
    case 1:
      return "设置无线模块波特率";
    case 2:
      return "读取无线模块波特率";
    case 3:
      return "设置空中波特率";
    case 4:
      return "读取空中波特率";
    case 5:
      return "设置信道";
    case 6:
      return "读取信道";
    case 14:
      return "设置全部参数";
    case 21:
      return "读取全部参数";
    default:
      return "未知操作";
  }
}

TfrmCommSet::TfrmCommSet(IPump& pump, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      cmSet(QtCommDispatcher()),
      port_(cmSet) {
  setObjectName("frmCommSet");
  setWindowTitle(QStringLiteral("基站参数"));
  auto* vbox = new QVBoxLayout(this);

  auto* grpComm = new QGroupBox(QStringLiteral("通讯串口"), this);
  grpComm->setObjectName("grpComm");
  {
    auto* g = new QGridLayout(grpComm);
    g->addWidget(new QLabel(QStringLiteral("串口号:"), grpComm), 0, 0);
    cbbComm = new QComboBox(grpComm);
    cbbComm->setObjectName("cbbComm");
    cbbComm->setEditable(true);
    for (int i = 1; i <= 20; ++i) cbbComm->addItem(QStringLiteral("Com%1").arg(i));
    // The machine's own serial devices as well.
    for (const QString& dev : Q(TComm::GetCommList()).split("\r\n", Qt::SkipEmptyParts))
      cbbComm->addItem(dev);
    cbbComm->setCurrentIndex(0);
    cbbComm->setMinimumContentsLength(14);  // room for device paths such as /dev/ttyUSB0
    g->addWidget(cbbComm, 0, 1);
    lblRate = new QLabel(QStringLiteral("波特率:"), grpComm);
    lblRate->setObjectName("lblRate");
    cbbRate = new QComboBox(grpComm);
    cbbRate->setObjectName("cbbRate");
    cbbRate->setEditable(true);
    g->addWidget(lblRate, 1, 0);
    g->addWidget(cbbRate, 1, 1);
    lblRate->hide();
    cbbRate->hide();
    btnOpen = new QPushButton(QStringLiteral("打开"), grpComm);
    btnOpen->setObjectName("btnOpen");
    btnClose = new QPushButton(QStringLiteral("关闭"), grpComm);
    btnClose->setObjectName("btnClose");
    g->addWidget(btnOpen, 0, 2);
    g->addWidget(btnClose, 0, 3);
  }
  vbox->addWidget(grpComm);

  auto* grpChannel = new QGroupBox(QStringLiteral("信道设置"), this);
  grpChannel->setObjectName("grpChannel");
  {
    auto* h = new QHBoxLayout(grpChannel);
    h->addWidget(new QLabel(QStringLiteral("信道号:"), grpChannel));
    cbbChannel = new QComboBox(grpChannel);
    cbbChannel->setObjectName("cbbChannel");
    cbbChannel->setEditable(true);
    for (int i = 1; i <= 8; ++i) cbbChannel->addItem(QString::number(i));
    cbbChannel->setCurrentIndex(-1);
    cbbChannel->setEditText(QString());
    h->addWidget(cbbChannel, 1);
    btnReadChannel = new QPushButton(QStringLiteral("读取"), grpChannel);
    btnReadChannel->setObjectName("btnReadChannel");
    btnSetChannel = new QPushButton(QStringLiteral("设置"), grpChannel);
    btnSetChannel->setObjectName("btnSetChannel");
    h->addWidget(btnReadChannel);
    h->addWidget(btnSetChannel);
  }
  vbox->addWidget(grpChannel);

  grpSkyRate = new QGroupBox(QStringLiteral("空中速率"), this);
  grpSkyRate->setObjectName("grpSkyRate");
  grpSkyRate->hide();
  grpWirelessRate = new QGroupBox(QStringLiteral("无线模块速率"), this);
  grpWirelessRate->setObjectName("grpWirelessRate");
  grpWirelessRate->hide();

  auto* bottom = new QHBoxLayout;
  btnReadAll = new QPushButton(QStringLiteral("读取"), this);
  btnReadAll->setObjectName("btnReadAll");
  btnReadAll->hide();
  btnSetAll = new QPushButton(QStringLiteral("设置"), this);
  btnSetAll->setObjectName("btnSetAll");
  btnSetAll->hide();
  btnSave = new QPushButton(QStringLiteral("保存(&S)"), this);
  btnSave->setObjectName("btnSave");
  btnExit = new QPushButton(QStringLiteral("退出"), this);
  btnExit->setObjectName("btnExit");
  bottom->addStretch(1);
  bottom->addWidget(btnSave);
  bottom->addWidget(btnExit);
  vbox->addLayout(bottom);

  stat1 = new QStatusBar(this);
  stat1->setObjectName("stat1");
  stat1->setSizeGripEnabled(false);
  stat1Panel[0] = new QLabel(QStringLiteral("状态"), stat1);
  stat1Panel[1] = new QLabel(stat1);
  stat1Panel[1]->setObjectName("stat1Panel1");
  stat1->addWidget(stat1Panel[0]);
  stat1->addWidget(stat1Panel[1], 1);
  vbox->addWidget(stat1);
  for (QPushButton* b : {btnOpen, btnClose, btnReadChannel, btnSetChannel, btnSave, btnExit})
    b->setAutoDefault(false);
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  DesignBasePort(cmSet, true);
  cmSet.OnReceiveData = [this](TComm*, const uint8_t* data, uint16_t len) { link_.OnReceiveData(data, len); };
  link_.SetPort(&port_);
  link_.SetPump(&pump);

  connect(btnOpen, &QPushButton::clicked, this, [this] { btnOpenClick(); });
  connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });
  connect(btnReadChannel, &QPushButton::clicked, this, [this] { btnReadChannelClick(); });
  connect(btnSetChannel, &QPushButton::clicked, this, [this] { btnSetChannelClick(); });
  connect(btnSave, &QPushButton::clicked, this, [this] { btnSaveClick(); });
  connect(btnExit, &QPushButton::clicked, this, [this] { reject(); });
}

TfrmCommSet::~TfrmCommSet() {
  ClosePort();
}

namespace {
constexpr std::string_view kDialog = " (base-station dialog)";
}  // namespace

void TfrmCommSet::ClosePort() {
  StopCommTraced(cmSet, link_.Trace(), kDialog);
}

void TfrmCommSet::done(int r) {
  ClosePort();
  QDialog::done(r);
}

void TfrmCommSet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;
  if (SysSet().SYS_SERVER_TYPE == 0 && cbbChannel->count() == 8)
    for (int i = 9; i <= 32; ++i) cbbChannel->addItem(QString::number(i));
  cbbComm->setCurrentText(Q(ReadCommNo()));
  cbbRate->setCurrentText(QStringLiteral("115200"));
  cbbRate->setEnabled(false);
  SetContrlEnabled(false);
}

void TfrmCommSet::btnOpenClick() {
  const int ext = GetExtComPort();
  std::string name = ext != -1 ? "COM" + std::to_string(ext) : S(cbbComm->currentText());
  const int speed = StrToIntDef(S(cbbRate->currentText()), 115200);
  name = ServicePortName(name);
  ClosePort();
  cmSet.SetCommName(name);
  cmSet.SetBaudRate(static_cast<uint32_t>(speed));
  const int r = cmSet.StartComm();
  TracePortStart(link_.Trace(), cmSet, r, kDialog);
  cmSet.SetDtrControl(TDtrControl::DtrEnable);
  SetContrlEnabled(r == 1);
  showTiptime(Q(GetStartCommMsg(r)));
}

void TfrmCommSet::btnCloseClick() {
  ClosePort();
  SetContrlEnabled(false);
  showTiptime(QStringLiteral("关闭串口成功！"));
}

void TfrmCommSet::ChannelCommand(uint8_t cmd, uint8_t channel) {
  showTiptime(QString());
  SetBtnEnabled(false);
  try {
    // The dialog's port stays in configuration mode: no switch-over delay.
    TBaseStation station(link_, false);
    uint8_t value = 0;
    const int r = cmd == BASE_SETCHANNEL ? station.SetChannel(channel, value) : station.ReadChannel(value);
    if (r == RC_OK) {
      cbbChannel->setCurrentText(QString::number(value));
      showTiptime(Q(iCmdToStr(cmd) + "-成功!"));
    }
  } catch (...) {
  }
  SetBtnEnabled(true);
}

void TfrmCommSet::btnReadChannelClick() {
  ChannelCommand(BASE_READCHANNEL, 0);
}

void TfrmCommSet::btnSetChannelClick() {
  const int c = StrToIntDef(S(cbbChannel->currentText()), 1);
  ChannelCommand(BASE_SETCHANNEL, static_cast<uint8_t>(c));
}

void TfrmCommSet::btnSaveClick() {
  TIniFile ini = DataLinkIni();
  ini.WriteString("CommSet", "CommNo", S(cbbComm->currentText()));
  ini.WriteString("CommSet", "BaudRate", S(cbbRate->currentText()));
  if (btnReadAll->isEnabled()) {
    ini.WriteString("CommSet", "ChannelNo", S(cbbChannel->currentText()));
    ini.WriteString("CommSet", "SkyBaudRate", S(cbbRate->currentText()));
    ini.WriteString("CommSet", "WirelessRate", S(cbbRate->currentText()));
  }
  accept();
}

void TfrmCommSet::SetContrlEnabled(bool bValue) {
  btnOpen->setEnabled(!bValue);
  for (QPushButton* b : {btnClose, btnReadChannel, btnSetChannel, btnReadAll, btnSetAll})
    b->setEnabled(bValue);
}

void TfrmCommSet::SetBtnEnabled(bool bValue) {
  for (QPushButton* b : {btnClose, btnReadChannel, btnSetChannel}) b->setEnabled(bValue);
}

void TfrmCommSet::showTiptime(const QString& text) {
  stat1Panel[1]->setText(text);
  stat1Panel[1]->repaint();
}

}  // namespace qv

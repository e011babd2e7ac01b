#include "app/gui/uMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <exception>

#include "base/Logging.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "app/service/QtPump.h"
#include "app/gui/MsgBox.h"
#include "app/service/ServiceUtil.h"
#include "app/gui/uCommSet.h"
#include "app/gui/uDownSet.h"
#include "app/gui/uOtherSet.h"
#include "app/gui/uPosSet.h"
#include "link/Download.h"

namespace qv {
namespace {

QIcon AppIcon() {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(QColor(200, 30, 30));
  p.setPen(Qt::NoPen);
  p.drawEllipse(2, 2, 28, 28);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(12);
  p.setFont(f);
  p.drawText(pm.rect(), Qt::AlignCenter, "433");
  return QIcon(pm);
}

QString Replace(const QString& caption, bool stocktaking) {
  QString s = caption;
  if (stocktaking) s.replace(QStringLiteral("点菜宝"), QStringLiteral("盘点机"));
  return s;
}

}  // namespace

TfrmMain::TfrmMain(IDbService& db, QWidget* parent) : QMainWindow(parent), db_(db) {
  BuildUi();
  // A child, so that its timers are found among the window's components by their names.
  service_ = std::make_unique<TService>(db_, *this, this);
  FormCreate();
}

TfrmMain::~TfrmMain() {
  trayIcon->hide();
  service_.reset();  // stops the timers and closes the port while the views still exist
}

std::vector<int> TfrmMain::CheckedTerminals() {
  std::vector<int> checked;
  for (int i = 0; i < lvPosList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = lvPosList->topLevelItem(i);
    if (item->checkState(0) == Qt::Checked) checked.push_back(StrToIntDef(S(item->text(0)), 0));
  }
  return checked;
}

void TfrmMain::BuildUi() {
  setObjectName("frmMain");
  setWindowIcon(AppIcon());
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

  auto* central = new QWidget(this);
  auto* vbox = new QVBoxLayout(central);
  vbox->setContentsMargins(4, 4, 4, 4);

  pnlState = new QLabel(central);
  pnlState->setObjectName("pnlState");
  pnlState->setAlignment(Qt::AlignCenter);
  {
    QFont f = pnlState->font();
    f.setPixelSize(35);
    pnlState->setFont(f);
    QPalette pal = pnlState->palette();
    pal.setColor(QPalette::WindowText, Qt::red);
    pnlState->setPalette(pal);
  }
  vbox->addWidget(pnlState);

  auto* middle = new QHBoxLayout;
  auto* left = new QVBoxLayout;

  grpPosList = new QGroupBox(QStringLiteral("盘点机列表"), central);
  grpPosList->setObjectName("grpPosList");
  lvPosList = new QTreeWidget(grpPosList);
  lvPosList->setObjectName("lvPosList");
  lvPosList->setColumnCount(2);
  lvPosList->setHeaderLabels({QStringLiteral("机号"), QStringLiteral("版本")});
  // Both columns fit the list's width even with a vertical scroll bar; the last one
  // stretches into what is left.
  lvPosList->setColumnWidth(0, 90);
  lvPosList->setColumnWidth(1, 80);
  lvPosList->headerItem()->setTextAlignment(1, Qt::AlignCenter);
  lvPosList->setRootIsDecorated(false);
  lvPosList->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvPosList->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvPosList->setContextMenuPolicy(Qt::CustomContextMenu);
  (new QVBoxLayout(grpPosList))->addWidget(lvPosList);
  left->addWidget(grpPosList, 1);

  pmOper = new QMenu(this);
  pmOper->setObjectName("pmOper");
  mniSelAll = pmOper->addAction(QStringLiteral("全选"));
  mniSelAll->setObjectName("mniSelAll");
  mniNoSelAll = pmOper->addAction(QStringLiteral("反选"));
  mniNoSelAll->setObjectName("mniNoSelAll");
  connect(lvPosList, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { pmOper->popup(lvPosList->viewport()->mapToGlobal(pos)); });
  connect(mniSelAll, &QAction::triggered, this, [this] { mniSelAllClick(); });
  connect(mniNoSelAll, &QAction::triggered, this, [this] { mniNoSelAllClick(); });

  grpBaseInf = new QGroupBox(QStringLiteral("基站信息"), central);
  grpBaseInf->setObjectName("grpBaseInf");
  {
    auto* grid = new QVBoxLayout(grpBaseInf);
    auto row = [&](QLabel*& caption, const char* capName, const QString& text, QLabel*& value,
                   const char* name) {
      auto* h = new QHBoxLayout;
      caption = new QLabel(text, grpBaseInf);
      caption->setObjectName(capName);
      value = new QLabel(grpBaseInf);
      value->setObjectName(name);
      h->addWidget(caption);
      h->addWidget(value, 1);
      grid->addLayout(h);
    };
    row(lblVerCaption, "lblVerCaption", QStringLiteral("版本号:"), lblVerInf, "lblVerInf");
    row(lblBaseNoCaption, "lblBaseNoCaption", QStringLiteral("基站号:"), lblBaseNo, "lblBaseNo");
    row(lblChannelCaption, "lblChannelCaption", QStringLiteral("信道号:"), lblChannel, "lblChannel");
  }
  left->addWidget(grpBaseInf);
  middle->addLayout(left, 1);

  grpLog = new QGroupBox(QStringLiteral("操作日志"), central);
  grpLog->setObjectName("grpLog");
  lvLog = new QTreeWidget(grpLog);
  lvLog->setObjectName("lvLog");
  lvLog->setColumnCount(3);
  lvLog->setHeaderLabels({QStringLiteral("机号"), QStringLiteral("操作类型"), QStringLiteral("结果")});
  // The number column is narrow so that the three fit without a horizontal scroll bar.
  lvLog->setColumnWidth(0, 60);
  lvLog->setColumnWidth(1, 90);
  lvLog->setColumnWidth(2, 230);
  lvLog->headerItem()->setTextAlignment(1, Qt::AlignCenter);
  lvLog->headerItem()->setTextAlignment(2, Qt::AlignCenter);
  lvLog->setRootIsDecorated(false);
  lvLog->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvLog->setContextMenuPolicy(Qt::CustomContextMenu);
  (new QVBoxLayout(grpLog))->addWidget(lvLog);
  middle->addWidget(grpLog, 2);
  vbox->addLayout(middle, 1);

  pmOpLog = new QMenu(this);
  pmOpLog->setObjectName("pmOpLog");
  mniClear = pmOpLog->addAction(QStringLiteral("清除日志"));
  mniClear->setObjectName("mniClear");
  connect(lvLog, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { pmOpLog->popup(lvLog->viewport()->mapToGlobal(pos)); });
  connect(mniClear, &QAction::triggered, this, [this] { mniClearClick(); });

  pnlBaseState = new QWidget(central);
  pnlBaseState->setObjectName("pnlBaseState");
  {
    auto* h = new QHBoxLayout(pnlBaseState);
    h->setContentsMargins(0, 0, 0, 0);
    auto button = [&](const QString& text, const char* name) {
      auto* b = new QPushButton(text, pnlBaseState);
      b->setObjectName(name);
      b->setAutoDefault(false);
      h->addWidget(b);
      return b;
    };
    btnStartOrStop = button(QStringLiteral("启动服务"), "btnStartOrStop");
    btnStartOrStop->setProperty("tag", 0);
    btnAdd = button(QStringLiteral("添加盘点机"), "btnAdd");
    btnDel = button(QStringLiteral("删除盘点机"), "btnDel");
    btnDownSet = button(QStringLiteral("下传设置"), "btnDownSet");
    btnDown = button(QStringLiteral("开始下传"), "btnDown");
    btnStopDown = button(QStringLiteral("中止下传"), "btnStopDown");
  }
  vbox->addWidget(pnlBaseState);
  setCentralWidget(central);

  connect(btnStartOrStop, &QPushButton::clicked, this, [this] { btnStartOrStopClick(); });
  connect(btnAdd, &QPushButton::clicked, this, [this] { mniPosSetClick(); });
  connect(btnDel, &QPushButton::clicked, this, [this] { mniDelClick(); });
  connect(btnDownSet, &QPushButton::clicked, this, [this] { mniDownSetClick(); });
  connect(btnDown, &QPushButton::clicked, this, [this] { btnDownClick(); });
  connect(btnStopDown, &QPushButton::clicked, this, [this] { btnStopDownClick(); });

  stat1 = new QStatusBar(this);
  stat1->setObjectName("stat1");
  stat1->setSizeGripEnabled(false);
  const int widths[4] = {60, 300, 80, 60};
  const QString texts[4] = {QStringLiteral("状态"), QString(), QStringLiteral("数据库连接"), QString()};
  for (int i = 0; i < 4; ++i) {
    stat1Panel[i] = new QLabel(texts[i], stat1);
    stat1Panel[i]->setObjectName(QStringLiteral("stat1Panel%1").arg(i));
    stat1Panel[i]->setMinimumWidth(widths[i]);
    stat1Panel[i]->setFrameShape(QFrame::StyledPanel);
    stat1->addWidget(stat1Panel[i], i == 1 ? 1 : 0);
  }
  setStatusBar(stat1);

  mmMain = new QMenuBar(this);
  mmMain->setObjectName("mmMain");
  auto action = [this](QMenu* menu, const QString& text, const char* name) {
    QAction* a = menu->addAction(text);
    a->setObjectName(name);
    return a;
  };
  QMenu* sys = mmMain->addMenu(QStringLiteral("系统设置"));
  sys->setObjectName("mnuSys");
  mniBaseSet = action(sys, QStringLiteral("基站参数"), "mniBaseSet");
  mniLinkDb = action(sys, QStringLiteral("系统参数"), "mniLinkDb");
  sys->addSeparator();
  mniStart = action(sys, QStringLiteral("启动服务"), "mniStart");
  mniStop = action(sys, QStringLiteral("停止服务"), "mniStop");
  QMenu* func = mmMain->addMenu(QStringLiteral("系统功能"));
  func->setObjectName("mnuFunc");
  mniPosSet = action(func, QStringLiteral("添加点菜宝"), "mniPosSet");
  mniDel = action(func, QStringLiteral("删除点菜宝"), "mniDel");
  func->addSeparator();
  mniDownSet = action(func, QStringLiteral("数据下传设置"), "mniDownSet");
  mniDown = action(func, QStringLiteral("数据开始下传"), "mniDown");
  mniStopDown = action(func, QStringLiteral("数据中止下传"), "mniStopDown");
  QMenu* help = mmMain->addMenu(QStringLiteral("帮助说明"));
  help->setObjectName("mnuHelp");
  mniHelp = action(help, QStringLiteral("帮助"), "mniHelp");
  setMenuBar(mmMain);

  connect(mniBaseSet, &QAction::triggered, this, [this] { mniBaseSetClick(); });
  connect(mniLinkDb, &QAction::triggered, this, [this] { mniLinkDbClick(); });
  connect(mniStart, &QAction::triggered, this, [this] { mniStartClick(); });
  connect(mniStop, &QAction::triggered, this, [this] { mniStopClick(); });
  connect(mniPosSet, &QAction::triggered, this, [this] { mniPosSetClick(); });
  connect(mniDel, &QAction::triggered, this, [this] { mniDelClick(); });
  connect(mniDownSet, &QAction::triggered, this, [this] { mniDownSetClick(); });
  connect(mniDown, &QAction::triggered, this, [this] { btnDownClick(); });
  connect(mniStopDown, &QAction::triggered, this, [this] { btnStopDownClick(); });
  connect(mniHelp, &QAction::triggered, this, [this] { mniHelpClick(); });

  pmMain = new QMenu(this);
  pmMain->setObjectName("pmMain");
  mniShow = pmMain->addAction(QStringLiteral("显示界面"));
  mniShow->setObjectName("mniShow");
  mniClose = pmMain->addAction(QStringLiteral("退出系统"));
  mniClose->setObjectName("mniClose");
  connect(mniShow, &QAction::triggered, this, [this] { mniShowClick(); });
  connect(mniClose, &QAction::triggered, this, [this] { mniCloseClick(); });

  trayIcon = new QSystemTrayIcon(windowIcon(), this);
  trayIcon->setObjectName("trayIcon");
  trayIcon->setToolTip(QString::fromUtf8(kAppTitle));
  trayIcon->setContextMenu(pmMain);
  connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
    if (r == QSystemTrayIcon::DoubleClick) ToggleVisible();
  });

  // 660 by 556 client pixels below the menu, fixed, centred on the desktop.
  setFixedSize(660, 556 + mmMain->sizeHint().height());
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect r = screen->availableGeometry();
    move(r.center() - rect().center());
  }
}

void TfrmMain::FormCreate() {
  setWindowTitle(Q(SysSet().AppTitle) + "-" + kVersion);
  pnlState->setText(Q(SysSet().AppTitle));
  ApplyMode();
  bExitFlag = false;
  // Shown even when no tray is there yet: Qt docks the icon once a tray appears.
  trayIcon->show();
  service_->FormCreate();  // the terminal list, the start, the link watch
}

void TfrmMain::ApplyMode() {
  const bool stock = SysSet().SYS_SERVER_TYPE == 1;
  for (QAction* a : {mniPosSet, mniDel}) a->setText(Replace(a->text(), stock));
  grpPosList->setTitle(Replace(grpPosList->title(), stock));
  for (QPushButton* b : {btnAdd, btnDel}) b->setText(Replace(b->text(), stock));
  for (QWidget* w :
       std::initializer_list<QWidget*>{btnDownSet, btnDown, btnStopDown, lblVerCaption, lblBaseNoCaption})
    w->setVisible(!stock);
  for (QAction* a : {mniDownSet, mniDown, mniStopDown}) a->setVisible(!stock);
}

bool TfrmMain::TrayAvailable() const {
  return trayOverride_ ? *trayOverride_ : QSystemTrayIcon::isSystemTrayAvailable();
}

void TfrmMain::SetServiceState(int code) {
  const bool running = code == 1;
  for (QAction* a : {mniStart, mniBaseSet, mniPosSet, mniLinkDb, mniDel}) a->setEnabled(!running);
  btnAdd->setEnabled(!running);
  btnDel->setEnabled(!running);
  mniStop->setEnabled(running);
  // A restart during a download leaves its controls alone: its stop button must stay
  // usable, and a second download must not start inside the first. They follow the
  // service state when the download ends.
  if (!service_->Downloading()) {
    for (QAction* a : {mniDown, mniDownSet}) a->setEnabled(running);
    btnDownSet->setEnabled(running);
    btnDown->setEnabled(running);
    btnStopDown->setEnabled(false);
    mniStopDown->setEnabled(false);
  }
  for (QLabel* l : {lblChannel, lblVerInf, lblBaseNo}) l->setVisible(running);
  btnStartOrStop->setText(running ? QStringLiteral("停止服务") : QStringLiteral("启动服务"));
  btnStartOrStop->setProperty("tag", running ? 1 : 0);
}

void TfrmMain::ShowStatus(const QString& text) {
  stat1Panel[1]->setText(text);
  stat1Panel[1]->repaint();
}

void TfrmMain::SetNetState(bool linked) {
  stat1Panel[3]->setText(linked ? QStringLiteral("正常") : QStringLiteral("断开"));
}

void TfrmMain::btnStartOrStopClick() {
  btnStartOrStop->setEnabled(false);
  try {
    if (btnStartOrStop->property("tag").toInt() == 1)
      mniStopClick();
    else
      mniStartClick();
  } catch (...) {
  }
  btnStartOrStop->setEnabled(true);
}

void TfrmMain::ShowBaseChannel(int channel) {
  if (channel == 0)
    lblChannel->clear();
  else
    lblChannel->setText(QString::number(channel));
}

void TfrmMain::ClearBaseInfo() {
  lblVerInf->hide();
  lblVerInf->clear();
  lblBaseNo->hide();
  lblBaseNo->clear();
}

void TfrmMain::ShowBaseInfo(const std::string& version, int number) {
  lblVerInf->setText(Q(version));
  lblBaseNo->setText(QString::number(number));
  lblVerInf->show();
  lblBaseNo->show();
}

bool TfrmMain::IsMainFormActive() const {
  return isVisible() && !isMinimized() && QApplication::activeWindow() == this;
}

void TfrmMain::ToggleVisible() {
  if (isVisible() && !isMinimized()) {
    hide();
  } else {
    showNormal();
    raise();
    activateWindow();
  }
}

void TfrmMain::mniShowClick() {
  ToggleVisible();
}

void TfrmMain::mniCloseClick() {
  bExitFlag = true;
  close();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!bExitFlag) {
    event->ignore();
    // Without a tray nothing could bring a hidden window back.
    if (TrayAvailable())
      hide();
    else
      showMinimized();
    return;
  }
  const int r =
      MsgBox(this, QMessageBox::Information, QStringLiteral("提示"), QStringLiteral("您确定要退出系统吗？"),
             QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
  if (r != QMessageBox::Ok) {
    bExitFlag = false;
    event->ignore();
    return;
  }
  service_->ShutDown();
  event->accept();
  emit exitConfirmed();
}

void TfrmMain::EndBySignal() {
  service_->EndBySignal();
  emit exitConfirmed();
}

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  ScrollLogToNewest();
  if (!event->spontaneous()) service_->FormShow();
}

void TfrmMain::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange) ScrollLogToNewest();
}

void TfrmMain::mniHelpClick() {
  const QString file = Q(Trim(ReadHelpFile()));
  SysSet().HelpFile = S(file);
  if (file.isEmpty()) return;
  QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath()));
}

void TfrmMain::mniBaseSetClick() {
  service_->AutoRunFlag = false;
  TfrmCommSet dlg(QtPump(), this);
  dlg.SetTrace(service_->Trace());
  dlg.exec();
}

void TfrmMain::mniLinkDbClick() {
  TfrmOtherSet dlg(db_, this);
  dlg.exec();
}

void TfrmMain::mniDownSetClick() {
  TfrmDownSet dlg(this);
  dlg.exec();
}

void TfrmMain::btnDownClick() {
  if (!service_->Download() || service_->Downloading()) return;
  btnDown->setEnabled(false);
  btnStopDown->setEnabled(true);
  mniStopDown->setEnabled(true);
  btnDownSet->setEnabled(!btnDownSet->isEnabled());
  mniDownSet->setEnabled(!mniDownSet->isEnabled());
  mniDown->setEnabled(!mniDown->isEnabled());
  service_->RunDownload();
  // The service may have been stopped meanwhile: the controls follow its state.
  const bool running = btnStartOrStop->property("tag").toInt() == 1;
  btnDown->setEnabled(running);
  btnStopDown->setEnabled(false);
  mniStopDown->setEnabled(false);
  btnDownSet->setEnabled(running);
  mniDownSet->setEnabled(running);
  mniDown->setEnabled(running);
}

void TfrmMain::btnStopDownClick() {
  if (TDownload* download = service_->Download()) download->bStopDown = true;
}

// --- terminal list ---

void TfrmMain::AddPosRow(const std::string& no, const std::string& ver) {
  auto* item = new QTreeWidgetItem(lvPosList);
  item->setText(0, Q(no));
  item->setText(1, Q(ver));
  item->setTextAlignment(1, Qt::AlignCenter);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
  item->setCheckState(0, Qt::Unchecked);
}

void TfrmMain::ShowPosList(const std::vector<TPosRow>& rows) {
  lvPosList->clear();
  for (const TPosRow& row : rows) AddPosRow(row.strNo, row.strVer);
}

void TfrmMain::ListViewToFile() {
  std::vector<TPosRow> rows;
  for (int i = 0; i < lvPosList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = lvPosList->topLevelItem(i);
    rows.push_back(TPosRow{S(item->text(0)), S(item->text(1))});
  }
  service_->ListViewToFile(rows);
}

void TfrmMain::mniPosSetClick() {
  const std::vector<std::string> posNos = service_->PosNoList();
  TfrmPosSet dlg(posNos, this);
  dlg.exec();
  if (dlg.Ret_Value.empty()) return;
  AddPosRow(LineField(dlg.Ret_Value, 1), LineField(dlg.Ret_Value, 2));
  ListViewToFile();
}

void TfrmMain::mniDelClick() {
  const int count = lvPosList->topLevelItemCount();
  if (count == 0) return;
  bool any = false;
  for (int i = 0; i < count && !any; ++i) any = lvPosList->topLevelItem(i)->checkState(0) == Qt::Checked;
  if (!any) {
    ShowMessage(this, QStringLiteral("请选择需要删除的记录信息!"));
    return;
  }
  if (MsgBox(this, QMessageBox::Question, QStringLiteral("警告"), QStringLiteral("请确认是否删除所选的记录?"),
             QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) != QMessageBox::Yes)
    return;
  for (int i = lvPosList->topLevelItemCount() - 1; i >= 0; --i)
    if (lvPosList->topLevelItem(i)->checkState(0) == Qt::Checked) delete lvPosList->takeTopLevelItem(i);
  ListViewToFile();
}

void TfrmMain::mniSelAllClick() {
  for (int i = 0; i < lvPosList->topLevelItemCount(); ++i)
    lvPosList->topLevelItem(i)->setCheckState(0, Qt::Checked);
}

void TfrmMain::mniNoSelAllClick() {
  for (int i = 0; i < lvPosList->topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = lvPosList->topLevelItem(i);
    item->setCheckState(0, item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
  }
}

// --- operation log ---

void TfrmMain::WriteLvLog(int iPDANo, const std::string& strType, const std::string& strValue, bool bAdd) {
  OpLog().WriteLvLog(iPDANo, strType, strValue, bAdd);
}

void TfrmMain::mniClearClick() {
  OpLog().Clear();
}

void TfrmMain::RowsCleared() {
  lvLog->clear();
}

void TfrmMain::RowAdded(const TOpLogRow& row) {
  auto* item = new QTreeWidgetItem(lvLog);
  item->setText(0, Q(row.strPDANo));
  item->setText(1, Q(row.strType));
  item->setText(2, Q(row.strValue));
  item->setTextAlignment(1, Qt::AlignCenter);
  item->setTextAlignment(2, Qt::AlignCenter);
  // Scrolling lays the whole list out; in the tray nobody would see it.
  if (LogSeen())
    lvLog->scrollToItem(item);
  else
    logScrollPending_ = true;
}

bool TfrmMain::LogSeen() const {
  return isVisible() && !isMinimized();
}

void TfrmMain::ScrollLogToNewest() {
  if (!logScrollPending_ || !LogSeen()) return;
  logScrollPending_ = false;
  if (QTreeWidgetItem* item = lvLog->topLevelItem(lvLog->topLevelItemCount() - 1)) lvLog->scrollToItem(item);
}

void TfrmMain::LastRowChanged(const TOpLogRow& row) {
  if (QTreeWidgetItem* item = lvLog->topLevelItem(lvLog->topLevelItemCount() - 1))
    item->setText(2, Q(row.strValue));
}

}  // namespace qv

#include "app/service/Service.h"

#include <QTimer>
#include <exception>

#include "app/service/CoreApplication.h"
#include "app/service/ExchangeWiring.h"
#include "app/service/QtCommDispatcher.h"
#include "app/service/QtPump.h"
#include "app/service/ServiceUtil.h"
#include "base/IniFile.h"
#include "base/Logging.h"
#include "base/OpLog.h"
#include "base/Settings.h"
#include "link/BaseStation.h"
#include "link/Download.h"

namespace qv {

TService::TService(IDbService& db, IServiceView& view, QObject* parent)
    : QObject(parent),
      cmPDA(QtCommDispatcher()),
      db_(db),
      view_(view),
      port_(cmPDA),
      poller_(link_, *this, *this) {
  setObjectName("service");
  tmrCheck = new QTimer(this);
  tmrCheck->setObjectName("tmrCheck");
  tmrCheck->setInterval(500);
  connect(tmrCheck, &QTimer::timeout, this, [this] { OnCheckTimeout(); });
  tmrLink = new QTimer(this);
  tmrLink->setObjectName("tmrLink");
  tmrLink->setInterval(30000);
  connect(tmrLink, &QTimer::timeout, this, [this] { tmrLinkTimer(); });

  DesignBasePort(cmPDA, false);
  cmPDA.OnReceiveData = [this](TComm*, const uint8_t* data, uint16_t len) { link_.OnReceiveData(data, len); };
  // Where the line goes away (the device unplugged, the driver's error); the link notices
  // only as time-outs and refused writes.
  cmPDA.OnRequestHangup = [this](TComm* c) {
    TracePort(c->CommName() + " hung up: the device is gone or reports an error");
  };
  link_.SetPort(&port_);
  link_.SetPump(&QtPump());
  if (const std::string trace = TracePath(); !trace.empty() && trace_.Open(trace)) link_.SetTrace(&trace_);
  exchange_ = MakeExchangeHandler(link_);
  poller_.SetExchangeHandler(exchange_.get());
  poller_.SetClearLastBillNo(ClearLastBillNoHook());
  download_ = std::make_unique<TDownload>(
      link_, poller_, [this] { return view_.CheckedTerminals(); }, BridgeReadRow());
  OpLog().SetView(&view_);
  for (const TOpLogRow& row : OpLog().Rows()) view_.RowAdded(row);
  // A request that found the link down has checked it at once: show what it found.
  db_.SetLinkCheckedHook([this] { SetNetState(); });
}

TService::~TService() {
  db_.SetLinkCheckedHook({});
  OpLog().SetView(nullptr);
  tmrCheck->stop();
  tmrLink->stop();
  ClosePort();
}

void TService::TracePort(const std::string& text) {
  if (ILinkTrace* trace = link_.Trace()) trace->TracePortEvent(text);
}

void TService::ClosePort() {
  StopCommTraced(cmPDA, link_.Trace());
}

void TService::FormCreate() {
  LoadPosListFile();
  SetServiceState(0);
  mniStartClick();
  tmrLink->start();
}

void TService::SetServiceState(int code) {
  serviceState_ = code;
  view_.SetServiceState(code);
  if (Running())
    tmrCheck->start();
  else
    tmrCheck->stop();
}

void TService::SetNetState() {
  const bool linked = db_.GetDbLinked();
  if (linked) iLinkFailCount = 0;
  view_.SetNetState(linked);
}

void TService::mniStartClick() {
  try {
    link_.ClearStop();
    const int ext = GetExtComPort();
    std::string name = ext != -1 ? "COM" + std::to_string(ext) : ReadCommNo();
    const int channel = ReadChannelNo();
    name = ServicePortName(name);
    cmPDA.SetCommName(name);
    cmPDA.SetBaudRate(115200);
    const int r = cmPDA.StartComm();
    TracePortStart(link_.Trace(), cmPDA, r);
    if (r == 1) {
      view_.ShowBaseChannel(0);
      if (channel != 0) SetBaseChannel(static_cast<uint8_t>(channel));
      const int c = ReadBaseChannel();
      if (c != 0) view_.ShowBaseChannel(c);
      ReadBaseInfo();
      cmPDA.SetDtrControl(TDtrControl::DtrDisable);
      AutoRunFlag = false;
    }
    link_.SetPort(&port_);
    SetServiceState(r);
    view_.ShowStatus(Q(GetStartCommMsg(r)));
  } catch (...) {
    WriteErrLog("mniStartClick except:" + ExceptionText(std::current_exception()));
  }
}

void TService::RequestStop() {
  link_.RequestStop();
  // A procedure still running for the exchange under way is given up: the exchange then
  // ends as a time-out would, on the closed port.
  db_.CancelCall();
  if (download_) download_->bStopDown = true;
}

void TService::mniStopClick() {
  try {
    RequestStop();
    ClosePort();
    SetServiceState(0);
    view_.ShowStatus(QStringLiteral("关闭串口成功!"));
  } catch (...) {
  }
}

int TService::SetBaseChannel(uint8_t channel) {
  try {
    return TBaseStation(link_, true, &poller_.bPollIdle).SetBaseChannel(channel);
  } catch (...) {
    WriteErrLog("SetBaseChannel except:" + ExceptionText(std::current_exception()));
  }
  return 0;
}

int TService::ReadBaseChannel() {
  try {
    return TBaseStation(link_, true, &poller_.bPollIdle).ReadBaseChannel();
  } catch (...) {
    WriteErrLog("ReadBaseChannel except:" + ExceptionText(std::current_exception()));
  }
  return 0;
}

bool TService::ReadBaseInfo() {
  try {
    view_.ClearBaseInfo();
    TBaseInfo info;
    if (!TBaseStation(link_, true, &poller_.bPollIdle).ReadBaseInfo(info)) return false;
    SysSet().iBaseStationID = info.iStationNo;
    DataLinkIni().WriteInteger("SysSet", "iBaseStationID", info.iStationNo);
    view_.ShowBaseInfo(info.strVersion, info.iStationNo);
    return true;
  } catch (...) {
    WriteErrLog("ReadBaseInfo except:" + ExceptionText(std::current_exception()));
  }
  return false;
}

bool TService::IsCheckTimerEnabled() {
  return tmrCheck->isActive();
}

void TService::OnCheckTimeout() {
  // The loop runs from a posted call, not inside the timer event: Qt does not deliver a
  // timer's ticks while its own handler runs, and the nested ticks carry the keep-alive.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (tmrCheck->isActive()) poller_.tmrCheckTimer();
      },
      Qt::QueuedConnection);
}

void TService::tmrLinkTimer() {
  // A tick inside a request's wait: the connection is in use, and a restart would begin an
  // exchange in the middle of the one waiting. The next tick does all of it.
  if (db_.CallUnderWay()) return;
  try {
    if (AutoRunFlag && !Running() && view_.IsMainFormActive()) mniStartClick();
    db_.FreeDataSetLink();
    if (db_.GetDbLinked()) {
      if (!db_.CheckDbLink()) {
        db_.SetDbLinked(false);
        SetNetState();
      }
    } else {
      const std::string s = db_.GetConnectionString();
      if (db_.TestLinkString(s) && db_.ConnectDatabase(s)) {
        SetNetState();
      } else {
        ++iLinkFailCount;
        OpLog().WriteLvLog(0, "系统提示",
                           "连接数据库失败!系统自动连接失败次数:" + std::to_string(iLinkFailCount), true);
      }
    }
  } catch (...) {
    WriteErrLog("tmrLinkTimer except:" + ExceptionText(std::current_exception()));
  }
}

void TService::FormShow() {
  try {
    if (!db_.GetDbLinked() && !db_.CallUnderWay()) {
      db_.ConnectDatabase(db_.GetConnectionString());
      SetNetState();
    }
  } catch (...) {
    WriteErrLog("FormShow except:" + ExceptionText(std::current_exception()));
  }
}

void TService::aplctnvnts1Exception(const std::string& message) {
  if (IsNetworkErrorText(message)) db_.SetDbLinked(false);
}

void TService::LoadPosListFile() {
  std::vector<TPosRow> shown;
  try {
    posNoList_.clear();
    for (const TPosRow& row : LoadPosList()) {
      posNoList_.push_back(row.strNo);
      shown.push_back(row);
    }
  } catch (...) {
    WriteErrLog("LoadPosList except:" + ExceptionText(std::current_exception()));
  }
  view_.ShowPosList(shown);
}

void TService::ListViewToFile(const std::vector<TPosRow>& rows) {
  try {
    posNoList_.clear();
    for (const TPosRow& row : rows) posNoList_.push_back(row.strNo);
    SavePosList(rows);
  } catch (...) {
    WriteErrLog("ListViewToFile except:" + ExceptionText(std::current_exception()));
  }
}

void TService::RunDownload() {
  // Not while the database works on a terminal's request: the terminal waits for its answer
  // on the same line, and the download's own reads would need the connection in use.
  if (!download_ || downloading_ || link_.bDataBusy || db_.CallUnderWay()) return;
  downloading_ = true;
  // A download started inside a running polling loop must not mark the loop as ended.
  const bool pollIdle = poller_.bPollIdle;
  poller_.bPollIdle = false;
  download_->bStopDown = false;
  try {
    // A copy: saving the download dialog meanwhile changes the next download, not this one.
    const std::string transData = SysSet().TransData;
    download_->Run(transData, SysSet().Broadcast);
  } catch (...) {
    WriteErrLog("btnDownClick except:" + ExceptionText(std::current_exception()));
  }
  downloading_ = false;
  poller_.bPollIdle = pollIdle;
  download_->bStopDown = false;
}

void TService::ShutDown() {
  RequestStop();
  tmrCheck->stop();
  tmrLink->stop();
  try {
    ClosePort();
  } catch (...) {
  }
}

void TService::EndBySignal() {
  if (Running()) mniStopClick();
  ShutDown();
}

}  // namespace qv

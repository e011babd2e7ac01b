#pragma once
// The base-station dialog: the serial port, and reading or setting the radio channel
// through the dialog's own port.
#include <QDialog>
#include <string>

#include "app/service/CommLinkPort.h"
#include "link/Link.h"
#include "serial/Comm.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QStatusBar;

namespace qv {

class TfrmCommSet : public QDialog {
  Q_OBJECT
 public:
  TfrmCommSet(IPump& pump, QWidget* parent = nullptr);
  ~TfrmCommSet() override;  // FormClose

  QComboBox* cbbComm;
  QLabel* lblRate;
  QComboBox* cbbRate;
  QPushButton* btnOpen;
  QPushButton* btnClose;
  QComboBox* cbbChannel;
  QPushButton* btnReadChannel;
  QPushButton* btnSetChannel;
  QGroupBox* grpSkyRate;       // hidden
  QGroupBox* grpWirelessRate;  // hidden
  QPushButton* btnReadAll;     // hidden; its enabled state says whether the port is open
  QPushButton* btnSetAll;      // hidden
  QPushButton* btnSave;
  QPushButton* btnExit;
  QStatusBar* stat1;
  QLabel* stat1Panel[2];

  TComm cmSet;

  void btnOpenClick();
  void btnCloseClick();
  void btnReadChannelClick();
  void btnSetChannelClick();
  void btnSaveClick();
  void SetContrlEnabled(bool bValue);
  void SetBtnEnabled(bool bValue);
  void showTiptime(const QString& text);

  TLink& Link() { return link_; }
  // The service's frame trace (nullptr: none): the dialog's own port is traced into it too.
  void SetTrace(ILinkTrace* trace) { link_.SetTrace(trace); }

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow
  void done(int r) override;                   // FormClose: the port closes with the dialog

 private:
  void ChannelCommand(uint8_t cmd, uint8_t channel);
  // Closes the dialog's port; the trace says so when it was open.
  void ClosePort();

  TCommLinkPort port_;
  TLink link_;
};

// Names of the base-station command codes.
std::string iCmdToStr(int iType);

}  // namespace qv

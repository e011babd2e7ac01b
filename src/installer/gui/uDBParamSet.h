#pragma once
// The installer's window: the connection fields, the connection test, and installing or
// saving by the mode the command line chose.
#include <QWidget>
#include <string>
#include <vector>

#include "installer/core/Install.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

namespace qv {

class Tfrm_DBParamSet : public QWidget {
  Q_OBJECT

 public:
  // Args: the command line without the program name.
  explicit Tfrm_DBParamSet(const std::vector<std::string>& Args, installer::TInstallerEnv Env = {},
                           QWidget* Parent = nullptr);

  // From SetUp.ini; the upper-cased last argument.
  installer::TSetupInfo Setup;
  std::string InputParam;
  bool InstallMode() const { return installer::IsInstallMode(InputParam); }

  // The fields as the window holds them, and the window showing a set of them.
  installer::TDbParams Fields() const;
  void ShowFields(const installer::TDbParams& Params);

  std::string BuildConnectionString() const;
  bool CheckInput();
  void SaveDataLink();

  QLabel* imgLogo;
  QLabel* lblHeader;
  QLabel* imgHeader;
  QComboBox* cbbtype;
  QLineEdit* edt1;
  QLineEdit* edt_ServerName;
  QCheckBox* chk2;
  QLineEdit* edtPort;
  QCheckBox* chkSafe;
  QLineEdit* edt_ConnUser;
  QLineEdit* edt_Pwd;
  QCheckBox* chk1;
  QLineEdit* edt_DBName;
  QLabel* lblDataPath;
  QLineEdit* edt_DataPath;
  QPushButton* Button1;
  QPushButton* btn1;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;
  QStatusBar* stat1;

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void FormShow();
  void ApplyEnabling();
  void Button1Click();
  void btn1Click();
  void BitBtn1Click();

  installer::TInstallerEnv env_;
  bool shown_ = false;
};

}  // namespace qv

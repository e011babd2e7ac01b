#pragma once
// The system options dialog: the database connection with its test, and the program
// options with the start-with-the-system entry.
#include <QDialog>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace qv {

class IDbService;

class TfrmOtherSet : public QDialog {
  Q_OBJECT
 public:
  TfrmOtherSet(IDbService& db, QWidget* parent = nullptr);

  QTabWidget* pgc1;
  // Page "连接数据库"
  QComboBox* cbbtype;
  QLineEdit* edt_ServerName;
  QCheckBox* chk2;
  QLineEdit* edtPort;
  QCheckBox* chkSafe;
  QLineEdit* edt_ConnUser;
  QLineEdit* edt_Pwd;
  QLabel* lblInstance;
  QLineEdit* edt1;
  QLineEdit* edt_DBName;
  QLabel* lblShopNo;
  QLineEdit* edtShopNo;
  QPushButton* btn1;
  // Page "系统选项"
  QCheckBox* chk5;
  QCheckBox* chk1;
  QCheckBox* chk6;
  QLineEdit* edt5;
  QLineEdit* edtLogCount;
  QLabel* lblCommPsw;
  QLineEdit* edtCommPsw;
  QLineEdit* edtBaseNo;
  QLineEdit* edtDelay;
  // Bottom
  QLabel* lblNote;
  QPushButton* BitBtn1;
  QPushButton* BitBtn2;

  void btn1Click();
  void BitBtn1Click();
  std::string GetLinkString() const;

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow

 private:
  void chkSafeClick();
  void chk2Click();
  void chk6Click();

  IDbService& db_;
};

// The connection string of the database connection in its OLE DB form; every field is
// taken without surrounding blanks.
std::string BuildLinkString(bool ntAuth, const std::string& user, const std::string& pwd,
                            const std::string& server, bool usePort, const std::string& port,
                            const std::string& dbName);

}  // namespace qv

#pragma once
// The download selection dialog.
#include <QDialog>
#include <string>

class QCheckBox;
class QPushButton;

namespace qv {

class TfrmDownSet : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmDownSet(QWidget* parent = nullptr);

  QCheckBox* chk[10] = {};  // chk[1] ... chk[9]; named "chk1" ... "chk9"
  QCheckBox* chkDownAll;
  QPushButton* btnAll;
  QPushButton* btnNoAll;
  QPushButton* btnSave;
  QPushButton* btnClose;

  std::string GetTransData() const;
  void btnAllClick();
  void btnNoAllClick();
  void btnSaveClick();

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow

 private:
  QCheckBox* Box(int p) const;
};

}  // namespace qv

#pragma once
// The add-terminal dialog.
#include <QDialog>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qv {

class TfrmPosSet : public QDialog {
  Q_OBJECT
 public:
  // posNoList: the terminal numbers already listed (the duplicate test compares text).
  TfrmPosSet(const std::vector<std::string>& posNoList, QWidget* parent = nullptr);

  QLineEdit* edtPADNo;
  QLabel* lblTip;
  QComboBox* cbbVer;
  QPushButton* btnSave;
  QPushButton* btnClose;

  // "number,version" after a confirmed entry; empty otherwise.
  std::string Ret_Value;

  void btnSaveClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  const std::vector<std::string> posNoList_;  // a copy: the dialog may outlive the caller's list
};

}  // namespace qv

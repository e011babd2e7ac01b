#pragma once
// The on-screen operation log as a model; the window shows it through IOpLogView.
#include <string>
#include <vector>

namespace qv {

struct TOpLogRow {
  std::string strPDANo;  // "ALL", or the number (four digits in ordering mode)
  std::string strType;
  std::string strValue;
};

class IOpLogView {
 public:
  virtual ~IOpLogView() = default;
  virtual void RowsCleared() = 0;
  virtual void RowAdded(const TOpLogRow& row) = 0;
  virtual void LastRowChanged(const TOpLogRow& row) = 0;
};

class TOpLog {
 public:
  void WriteLvLog(int iPDANo, const std::string& strType, const std::string& strValue, bool bAdd);
  void Clear();
  const std::vector<TOpLogRow>& Rows() const { return rows_; }
  void SetView(IOpLogView* view) { view_ = view; }

 private:
  std::vector<TOpLogRow> rows_;
  IOpLogView* view_ = nullptr;
};

// The process-wide operation log (the window's lvLog).
TOpLog& OpLog();

}  // namespace qv

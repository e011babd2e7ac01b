#include "base/OpLog.h"

#include <cstdio>

#include "base/Settings.h"

namespace qv {

void TOpLog::WriteLvLog(int iPDANo, const std::string& strType, const std::string& strValue, bool bAdd) {
  try {
    if (!bAdd) {
      if (rows_.empty()) return;
      rows_.back().strValue = strValue;
      if (view_) view_->LastRowChanged(rows_.back());
      return;
    }
    std::string pda;
    if (iPDANo == 0) {
      pda = "ALL";
    } else if (SysSet().SYS_SERVER_TYPE == 0) {
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d", iPDANo);  // at least four characters, never cut
      pda = buf;
    } else {
      pda = std::to_string(iPDANo);
    }
    if (static_cast<long long>(rows_.size()) >= SysSet().iMaxLogCount) Clear();
    rows_.push_back(TOpLogRow{pda, strType, strValue});
    if (view_) view_->RowAdded(rows_.back());
  } catch (...) {
  }
}

void TOpLog::Clear() {
  try {
    if (rows_.empty()) return;
    rows_.clear();
    if (view_) view_->RowsCleared();
  } catch (...) {
  }
}

TOpLog& OpLog() {
  static TOpLog log;
  return log;
}

}  // namespace qv

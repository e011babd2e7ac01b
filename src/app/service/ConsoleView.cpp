#include "app/service/ConsoleView.h"

#include <cstdio>

#include "app/service/ServiceUtil.h"

namespace qv {
namespace {

void Echo(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

}  // namespace

void TConsoleView::ShowStatus(const QString& text) {
  Echo(S(text));
}

void TConsoleView::SetNetState(bool linked) {
  // Without a window the journal is the status bar: each change of the link, once.
  if (linked_ == linked) return;
  linked_ = linked;
  Echo(linked ? "数据库连接 正常" : "数据库连接 断开");
}

void TConsoleView::RowAdded(const TOpLogRow& row) {
  Echo(row.strPDANo + "\t" + row.strType + "\t" + row.strValue);
}

void TConsoleView::LastRowChanged(const TOpLogRow& row) {
  Echo(row.strPDANo + "\t" + row.strType + "\t" + row.strValue);
}

}  // namespace qv

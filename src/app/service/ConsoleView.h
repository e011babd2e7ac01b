#pragma once
// The service without a window: operation-log rows and status messages go to standard
// output, one UTF-8 line each, and each change of the database link is printed once.
#include <optional>

#include "app/service/ServiceView.h"

namespace qv {

class TConsoleView : public IServiceView {
 public:
  void SetServiceState(int) override {}
  void ShowStatus(const QString& text) override;
  void SetNetState(bool linked) override;
  void ShowBaseChannel(int) override {}
  void ClearBaseInfo() override {}
  void ShowBaseInfo(const std::string&, int) override {}
  void ShowPosList(const std::vector<TPosRow>&) override {}
  // Nobody can make a console active: the automatic restart is never held back.
  bool IsMainFormActive() const override { return true; }
  std::vector<int> CheckedTerminals() override { return {}; }
  // IOpLogView: "terminal<TAB>type<TAB>text"; a row changed in place is printed again.
  void RowsCleared() override {}
  void RowAdded(const TOpLogRow& row) override;
  void LastRowChanged(const TOpLogRow& row) override;

 private:
  std::optional<bool> linked_;
};

}  // namespace qv

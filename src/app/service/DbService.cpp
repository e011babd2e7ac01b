#include "app/service/DbService.h"

#include "app/service/QtDbWait.h"
#include "bridge/DbLink.h"
#include "bridge/SharePool.h"

namespace qv {
namespace {

class TBridgeDbService : public IDbService {
 public:
  TBridgeDbService() { dtDbLink().LocalDbLink.SetWaitHook(&wait_); }
  // The program ends with the service: the pooled datasets go while the log still works.
  ~TBridgeDbService() override {
    dtDbLink().LocalDbLink.SetWaitHook(nullptr);
    FreeShareDataSetList();
  }
  std::string GetConnectionString() override {
    std::string s;
    qv::GetConnectionString(s);
    return s;
  }
  bool ConnectDatabase(const std::string& connStr) override { return qv::ConnectDatabase(connStr); }
  bool CheckDbLink() override { return qv::CheckDbLink(); }
  bool TestLinkString(const std::string& connStr) override { return qv::TestLinkString(connStr); }
  bool GetDbLinked() override { return qv::GetDbLinked(); }
  void SetDbLinked(bool linked) override { qv::SetDbLinked(linked); }
  void FreeDataSetLink() override { qv::FreeDataSetLink(); }
  void SetLinkCheckedHook(std::function<void()> hook) override { qv::SetLinkCheckedHook(std::move(hook)); }
  bool CallUnderWay() override { return DbCallUnderWay(); }
  void CancelCall() override { wait_.Cancel(); }

 private:
  TQtDbWait wait_;
};

}  // namespace

std::unique_ptr<IDbService> MakeDbService() {
  dtDbLink();  // the data module comes before the service
  return std::make_unique<TBridgeDbService>();
}

}  // namespace qv

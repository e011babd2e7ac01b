#include "app/service/ExchangeWiring.h"

#include "bridge/SqlBind.h"
#include "bridge/SqlExec.h"
#include "link/Exchange.h"

namespace qv {

TReadRowFn BridgeReadRow() {
  return [](const char* kind, int no, std::string& text, int* flag, std::string& result) {
    return cb_Read_Data_SQLPROC(kind, no, text, flag, result);
  };
}

TSaveRecordFn BridgeSaveRecord() {
  return [](const char* kind, int no, const std::string& text, std::string& result, bool last) {
    return cb_Save_Data_SQLPROC(kind, no, text, result, last);
  };
}

std::unique_ptr<IExchangeHandler> MakeExchangeHandler(TLink& link) {
  return std::make_unique<TExchangeHandler>(link, BridgeReadRow(), BridgeSaveRecord());
}

std::function<void()> ClearLastBillNoHook() {
  return [] { ClearLastBillNo(); };
}

}  // namespace qv

#pragma once
// The polling cycle's link to the read and upload exchanges through the bridge's entry
// points, and to the upload bridge's remembered document number.
#include <functional>
#include <memory>

#include "link/Link.h"
#include "link/LinkInterfaces.h"
#include "link/RecordPack.h"
#include "link/UploadExchange.h"

namespace qv {

// The bridge's read and save entry points as the link's row functions.
TReadRowFn BridgeReadRow();
TSaveRecordFn BridgeSaveRecord();
std::unique_ptr<IExchangeHandler> MakeExchangeHandler(TLink& link);
std::function<void()> ClearLastBillNoHook();

}  // namespace qv

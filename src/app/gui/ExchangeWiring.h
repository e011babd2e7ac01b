#pragma once
// The polling cycle's link to the read and upload exchanges and to the upload bridge's
// remembered document number, when this build has those layers.
#include <functional>
#include <memory>

#include "link/Link.h"
#include "link/LinkInterfaces.h"

namespace qv {

// None when the build has no exchange layer: requests then go unanswered.
std::unique_ptr<IExchangeHandler> MakeExchangeHandler(TLink& link);
// Empty when the build has no database bridge.
std::function<void()> ClearLastBillNoHook();

}  // namespace qv

#include "app/gui/ExchangeWiring.h"

#ifdef QV_HAVE_EXCHANGE
#include "link/Exchange.h"
#endif
#ifdef QV_HAVE_BRIDGE
#include "bridge/SqlBind.h"
#endif

namespace qv {

std::unique_ptr<IExchangeHandler> MakeExchangeHandler([[maybe_unused]] TLink& link) {
#ifdef QV_HAVE_EXCHANGE
  return std::make_unique<TExchangeHandler>(link);
#else
  return nullptr;
#endif
}

std::function<void()> ClearLastBillNoHook() {
#ifdef QV_HAVE_BRIDGE
  return [] { ClearLastBillNo(); };
#else
  return {};
#endif
}

}  // namespace qv

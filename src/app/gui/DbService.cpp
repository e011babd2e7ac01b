#include "app/gui/DbService.h"

namespace qv {

#ifdef QV_HAVE_BRIDGE
std::unique_ptr<IDbService> MakeBridgeDbService();  // BridgeDb.cpp
#endif

std::unique_ptr<IDbService> MakeDbService() {
#ifdef QV_HAVE_BRIDGE
  return MakeBridgeDbService();
#else
  return std::make_unique<TNoDbService>();
#endif
}

}  // namespace qv

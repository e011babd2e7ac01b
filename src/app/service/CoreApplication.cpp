#include "app/service/CoreApplication.h"

namespace qv {

bool IsNetworkErrorText(const std::string& message) {
  return message.find("一般性网络错误") != std::string::npos;
}

}  // namespace qv

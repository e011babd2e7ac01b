#include "app/service/ServiceUtil.h"

#include <dlfcn.h>

#include <cstdint>

#include "base/AppPath.h"
#include "base/Text.h"

namespace qv {

std::string GetStartCommMsg(int code) {
  if (code == 0) return "串口已经打开";
  if (code == 1) return "服务正常启动";
  return "串口打开失败、请核对串口是否有效或已占用!" + std::to_string(code);
}

std::string ServicePortName(const std::string& name) {
  if (name.size() > 3 && StrToIntDef(name.substr(3), 0) >= 10) return "//./" + name;
  return name;
}

int GetExtComPort() {
  // Code is loaded only from where the program itself was installed, by full path: the
  // data directory (QUORVEX_HOME) belongs to the service's user, and a bare name would
  // search LD_LIBRARY_PATH.
  const std::string exe = ExecutablePath();
  const size_t slash = exe.rfind('/');
  if (slash == std::string::npos) return -1;
  const std::string bin = exe.substr(0, slash + 1);
  void* lib = nullptr;
  for (const std::string& dir : {bin, bin + "../lib/"}) {
    lib = dlopen((dir + "libextrares.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib) break;
  }
  if (!lib) return -1;
  int result = -1;
  using TGetComPort = int32_t (*)(int32_t);
  if (auto fn = reinterpret_cast<TGetComPort>(dlsym(lib, "GetComPort"))) result = fn(2);
  dlclose(lib);
  return result;
}

}  // namespace qv

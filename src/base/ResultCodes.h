#pragma once
// One signed 32-bit code space for every outcome of the link and the bridge; 0 = success.
// Only the low byte travels in "ER" frames.
#include <cstdint>
#include <string>

namespace qv {

constexpr int32_t RC_OK = 0;
constexpr int32_t RC_BADPSW = 1;       // "通迅密码错误"
constexpr int32_t RC_BADCMD = 2;       // "通讯命令有错"
constexpr int32_t RC_BASEBUSY = 14;    // "基站忙"
constexpr int32_t RC_TIMEOUT = 17;     // "通迅超时"
constexpr int32_t RC_SENDFAIL = 18;    // "数据发送失败"

// The operator-facing text of a code (UTF-8); "未知错误:" and the code for any other.
std::string iErrToStr(int32_t iCode);

}  // namespace qv

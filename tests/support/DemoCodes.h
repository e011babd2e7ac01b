#pragma once
// Result codes of the demo database's own (db/README.md) that tests meet. Codes 101 to 114
// are the service's own and named in base/ResultCodes.h.
#include <cstdint>

namespace qv::test {

constexpr int32_t RC_DEMO_BADOPPSW = 121;  // "操作员密码错误": wrong operator password
constexpr int32_t RC_DEMO_NOTABLE = 122;   // "台号不存在": no such table

}  // namespace qv::test

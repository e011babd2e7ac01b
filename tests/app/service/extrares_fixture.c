/* Port providers for the tests: one answers 77 when asked for port 2, one lacks the export. */
#include <stdint.h>

#ifdef QV_WITH_EXPORT
int32_t GetComPort(int32_t kind) {
  return kind == 2 ? 77 : -5;
}
#else
int32_t SomethingElse(int32_t kind) {
  return kind;
}
#endif

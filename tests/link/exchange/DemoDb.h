#pragma once
// The demo database for the exchange tests: the server named by QV_TEST_PG, the bridge
// connected to it, a session of the test's own for checks, and keys no other test uses
// (tests run side by side on the same database, and again on a database already used).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/db/Db.h"

namespace qv::test {

std::string DemoConnStr();

#define QV_NEED_DEMO_DB()                                                               \
  do {                                                                                  \
    if (::qv::test::DemoConnStr().empty())                                              \
      GTEST_SKIP() << "QV_TEST_PG is not set: no demo database to test against";       \
  } while (0)

class TDemoDb {
 public:
  // Connects the bridge's data module (once per process) and a session of its own.
  TDemoDb();
  ~TDemoDb();
  void Exec(const std::string& sql);
  std::string Scalar(const std::string& sql);
  std::vector<std::vector<std::string>> Rows(const std::string& sql);

  // A key of `width` characters beginning with `prefix` that `table`.`column` does not hold.
  std::string FreshKey(const std::string& table, const std::string& column,
                       const std::string& prefix, size_t width);
  // A terminal number no other test process uses.
  static uint32_t FreshTerminal();

 private:
  db::TADOConnection conn_;
};

// SQL text literal.
std::string Lit(const std::string& s);

}  // namespace qv::test

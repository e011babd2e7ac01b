#pragma once
// The demo database for the exchange tests: on the server named by QV_TEST_PG, a database
// of this test process's own, loaded from db/ (tables, procedures, demo data) and dropped
// at exit, so that the rows these tests add never meet another test's counts; the bridge
// connected to it; a session for checks; and fresh keys, so that the tests would not meet
// each other even on one shared database.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PgFixture.h"
#include "db/Db.h"

namespace qv::test {

#define QV_NEED_DEMO_DB()                                                        \
  do {                                                                           \
    if (::qv::test::DemoConnStr().empty())                                       \
      GTEST_SKIP() << "QV_TEST_PG is not set: no demo database to test against"; \
  } while (0)

// The connection string of this process's demo database (created on first use).
std::string PrivateDemoConnStr();

class TDemoDb {
 public:
  // Connects the bridge's data module (once per process) and a session of its own.
  TDemoDb();
  ~TDemoDb();
  void Exec(const std::string& sql);
  std::string Scalar(const std::string& sql);
  std::vector<std::vector<std::string>> Rows(const std::string& sql);

  // A key of `width` characters beginning with `prefix` that `table`.`column` does not hold.
  std::string FreshKey(const std::string& table, const std::string& column, const std::string& prefix,
                       size_t width);
  // A terminal number no other test process uses.
  static uint32_t FreshTerminal();

 private:
  db::TADOConnection conn_;
};

// One procedure of the demo database made slow while this lives: a pause of Seconds at
// the top of its body; the procedure as it was is put back at the end. Only ever on a
// private copy of the demo database.
class TSlowProcedure {
 public:
  TSlowProcedure(TDemoDb& Db, const std::string& Name, double Seconds);
  ~TSlowProcedure();

 private:
  TDemoDb& db_;
  std::string original_;
};

// SQL text literal.
std::string Lit(const std::string& s);

}  // namespace qv::test

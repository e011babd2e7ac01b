#include "DemoDb.h"

#include <unistd.h>

#include <cstdlib>
#include <random>

#include "bridge/DbLink.h"
#include "bridge/SharePool.h"

namespace qv::test {

std::string DemoConnStr() {
  const char* s = std::getenv("QV_TEST_PG");
  return s != nullptr ? s : "";
}

namespace {

std::mt19937_64& Rng() {
  static std::mt19937_64 rng(std::random_device{}() ^ (static_cast<uint64_t>(getpid()) << 20));
  return rng;
}

}  // namespace

TDemoDb::TDemoDb() {
  if (!GetDbLinked() && !ConnectDatabase(DemoConnStr()))
    throw std::runtime_error("the bridge cannot connect to the demo database");
  conn_.Open(DemoConnStr());
}

TDemoDb::~TDemoDb() { FreeShareDataSetList(); }

void TDemoDb::Exec(const std::string& sql) { conn_.Execute(sql); }

std::vector<std::vector<std::string>> TDemoDb::Rows(const std::string& sql) {
  db::TADOQuery q(&conn_);
  q.SetSQL(sql);
  q.Open();
  std::vector<std::vector<std::string>> out;
  for (q.First(); !q.Eof(); q.Next()) {
    std::vector<std::string> row;
    for (int i = 0; i < q.FieldCount(); ++i) row.push_back(q.Fields(i).AsString());
    out.push_back(std::move(row));
  }
  return out;
}

std::string TDemoDb::Scalar(const std::string& sql) {
  const auto rows = Rows(sql);
  return rows.empty() || rows[0].empty() ? "" : rows[0][0];
}

std::string TDemoDb::FreshKey(const std::string& table, const std::string& column,
                              const std::string& prefix, size_t width) {
  static const char kChars[] = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ";
  for (;;) {
    std::string key = prefix;
    while (key.size() < width) key += kChars[Rng()() % (sizeof kChars - 1)];
    if (Scalar("SELECT count(*) FROM " + table + " WHERE " + column + " = " + Lit(key)) == "0")
      return key;
  }
}

uint32_t TDemoDb::FreshTerminal() { return 100000 + static_cast<uint32_t>(Rng()() % 2000000000u); }

std::string Lit(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("''") : std::string(1, c);
  return r + "'";
}

}  // namespace qv::test

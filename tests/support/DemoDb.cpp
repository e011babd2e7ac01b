#include "DemoDb.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <random>

#include "bridge/DbLink.h"
#include "bridge/SharePool.h"

namespace qv::test {

namespace {

std::mt19937_64& Rng() {
  static std::mt19937_64 rng(std::random_device{}() ^ (static_cast<uint64_t>(getpid()) << 20));
  return rng;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The keyword connection string with dbname set to `name`.
std::string WithDbName(const std::string& conn, const std::string& name) {
  std::istringstream in(conn);
  std::string word, out;
  while (in >> word)
    if (word.rfind("dbname=", 0) != 0) out += (out.empty() ? "" : " ") + word;
  return out + " dbname=" + name;
}

class TPrivateDemo {
 public:
  TPrivateDemo() {
    name_ = "qv_exchange_" + std::to_string(getpid()) + "_" + std::to_string(Rng()() % 1000000);
    admin_.Open(DemoConnStr());
    admin_.Execute("CREATE DATABASE " + name_ + " TEMPLATE template0 ENCODING 'UTF8'");
    conn_ = WithDbName(DemoConnStr(), name_);
    db::TADOConnection load(conn_);
    load.Open();
    for (const char* file : {"schema.sql", "procedures.sql", "seed.sql"}) {
      const std::string path = std::string(QV_DB_DIR) + "/" + file;
      if (std::string(file) == "seed.sql" && !std::filesystem::exists(path)) continue;
      load.Execute(ReadFile(path));
    }
  }
  ~TPrivateDemo() {
    try {
      admin_.Execute("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    } catch (...) {
      // A server already gone takes the database with it.
    }
  }
  const std::string& ConnStr() const { return conn_; }

 private:
  db::TADOConnection admin_;
  std::string name_, conn_;
};

}  // namespace

std::string PrivateDemoConnStr() {
  // Only a keyword string (what scripts/pg-fixture prints) names the database in a way that
  // is simple to replace; a URI is used as it stands, the fresh keys keeping tests apart.
  if (DemoConnStr().find("://") != std::string::npos) return DemoConnStr();
  static TPrivateDemo demo;
  return demo.ConnStr();
}

TDemoDb::TDemoDb() {
  const std::string conn = PrivateDemoConnStr();
  if (!GetDbLinked() && !ConnectDatabase(conn))
    throw std::runtime_error("the bridge cannot connect to the demo database");
  conn_.Open(conn);
}

TDemoDb::~TDemoDb() {
  FreeShareDataSetList();
}

void TDemoDb::Exec(const std::string& sql) {
  conn_.Execute(sql);
}

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

std::string TDemoDb::FreshKey(const std::string& table, const std::string& column, const std::string& prefix,
                              size_t width) {
  static const char kChars[] = "0123456789ABCDEFGHJKLMNPQRSTUVWXYZ";
  for (;;) {
    std::string key = prefix;
    while (key.size() < width) key += kChars[Rng()() % (sizeof kChars - 1)];
    if (Scalar("SELECT count(*) FROM " + table + " WHERE " + column + " = " + Lit(key)) == "0") return key;
  }
}

uint32_t TDemoDb::FreshTerminal() {
  return 100000 + static_cast<uint32_t>(Rng()() % 2000000000u);
}

std::string Lit(const std::string& s) {
  std::string r = "'";
  for (char c : s) r += c == '\'' ? std::string("''") : std::string(1, c);
  return r + "'";
}

TSlowProcedure::TSlowProcedure(TDemoDb& Db, const std::string& Name, double Seconds) : db_(Db) {
  original_ = db_.Scalar(
      "select pg_get_functiondef(p.oid) from pg_proc p join pg_namespace n on n.oid = p.pronamespace "
      "where n.nspname = 'public' and p.proname = " +
      Lit(Name));
  const size_t begin = original_.find("\nBEGIN\n");
  if (original_.empty() || begin == std::string::npos)
    throw std::runtime_error("no procedure " + Name + " with a body to slow down");
  std::string slow = original_;
  slow.insert(begin + 7, "  PERFORM pg_sleep(" + std::to_string(Seconds) + ");\n");
  db_.Exec(slow);
}

TSlowProcedure::~TSlowProcedure() {
  try {
    db_.Exec(original_);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "the slowed procedure could not be put back: " << e.what();
  }
}

}  // namespace qv::test

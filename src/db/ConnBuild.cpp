#include "db/ConnBuild.h"

#include <libpq-fe.h>

#include <cctype>
#include <memory>

#include "db/Db.h"

namespace qv::db {

std::string BuildOleDbConnString(const TOleDbLogin& Login) {
  std::string s = "Provider=SQLOLEDB.1;";
  if (Login.IntegratedSecurity)
    s += "Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=" + Login.Catalog;
  else
    s += "Persist Security Info=False;Initial Catalog=" + Login.Catalog + ";User ID=" + Login.User +
         ";Password=" + Login.Password;
  s += ";Data Source=" + Login.Server;
  if (Login.UsePort) s += "," + Login.Port;
  return s;
}

namespace {

std::string PercentEncoded(const std::string& v) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : v) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

}  // namespace

std::string PostgresWithDatabase(const std::string& ConnStr, const std::string& Database) {
  const TConnTarget target = ParseConnectionString(ConnStr);
  if (target.Backend != TBackend::PostgreSQL)
    throw EDatabaseError("not a PostgreSQL connection string", TErrorKind::Unsupported);
  char* err = nullptr;
  std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> opts(
      PQconninfoParse(target.Native.c_str(), &err), &PQconninfoFree);
  if (!opts) {
    std::string m = err ? err : "out of memory";
    PQfreemem(err);
    while (!m.empty() && (m.back() == '\n' || m.back() == ' ')) m.pop_back();
    throw EDatabaseError("connection string: " + m);
  }
  // Every option the string set, as URI parameters: a value may hold any character.
  std::string query;
  for (const PQconninfoOption* o = opts.get(); o->keyword; ++o) {
    if (!o->val || std::string(o->keyword) == "dbname") continue;
    query += (query.empty() ? "?" : "&") + std::string(o->keyword) + "=" + PercentEncoded(o->val);
  }
  return "postgresql:///" + PercentEncoded(Database) + query;
}

}  // namespace qv::db

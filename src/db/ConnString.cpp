// Connection strings: backend choice and the OLE DB -> FreeTDS ODBC translation.
#include <algorithm>
#include <cctype>
#include <set>

#include "db/Db.h"

namespace qv::db {
namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return r;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

// Normalises an ADO key: lower case, inner runs of blanks to one blank.
std::string NormKey(std::string_view k) {
  std::string r;
  bool space = false;
  for (char c : Trim(k)) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      space = true;
      continue;
    }
    if (space && !r.empty()) r += ' ';
    space = false;
    r += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return r;
}

const std::string* Find(const std::vector<std::pair<std::string, std::string>>& kv,
                        std::initializer_list<const char*> keys) {
  // The last occurrence wins (as in OLE DB and ODBC).
  const std::string* found = nullptr;
  for (const auto& [k, v] : kv) {
    std::string nk = NormKey(k);
    for (const char* key : keys)
      if (nk == key) found = &v;
  }
  return found;
}

bool Truthy(const std::string& v) {
  std::string l = Lower(Trim(v));
  return l == "sspi" || l == "true" || l == "yes" || l == "1";
}

// An ODBC attribute value, brace-quoted when it could be misread.
std::string OdbcValue(const std::string& v) {
  bool needs = v.find_first_of(";{}=") != std::string::npos ||
               (!v.empty() && (std::isspace(static_cast<unsigned char>(v.front())) ||
                               std::isspace(static_cast<unsigned char>(v.back()))));
  if (!needs) return v;
  std::string r = "{";
  for (char c : v) {
    r += c;
    if (c == '}') r += '}';
  }
  return r + "}";
}

// A libpq keyword value, single-quoted when needed.
std::string PqValue(const std::string& v) {
  bool needs = v.empty() || v.find_first_of(" \t\r\n'\\") != std::string::npos;
  if (!needs) return v;
  std::string r = "'";
  for (char c : v) {
    if (c == '\'' || c == '\\') r += '\\';
    r += c;
  }
  return r + "'";
}

const std::set<std::string>& PqKeywords() {
  static const std::set<std::string> k = {"host",
                                          "hostaddr",
                                          "port",
                                          "dbname",
                                          "user",
                                          "password",
                                          "passfile",
                                          "service",
                                          "connect_timeout",
                                          "client_encoding",
                                          "options",
                                          "application_name",
                                          "fallback_application_name",
                                          "keepalives",
                                          "keepalives_idle",
                                          "keepalives_interval",
                                          "keepalives_count",
                                          "tcp_user_timeout",
                                          "sslmode",
                                          "sslcert",
                                          "sslkey",
                                          "sslrootcert",
                                          "sslcrl",
                                          "sslpassword",
                                          "requiressl",
                                          "gssencmode",
                                          "krbsrvname",
                                          "target_session_attrs",
                                          "channel_binding",
                                          "sslcompression",
                                          "sslsni",
                                          "requirepeer",
                                          "load_balance_hosts"};
  return k;
}

// "host=/tmp dbname=demo": a libpq keyword/value string (no ';', first key a libpq keyword).
bool LooksLikePqKeywords(const std::string& s) {
  if (s.find(';') != std::string::npos) return false;
  std::string t = Trim(s);
  size_t eq = t.find('=');
  if (eq == std::string::npos) return false;
  return PqKeywords().count(Lower(Trim(t.substr(0, eq)))) != 0;
}

EDatabaseError Unsupported(const std::string& m) {
  return EDatabaseError(m, TErrorKind::Unsupported);
}

void RejectIntegratedSecurity(const std::vector<std::pair<std::string, std::string>>& kv) {
  const std::string* is = Find(kv, {"integrated security", "trusted_connection"});
  if (is && Truthy(*is))
    throw Unsupported(
        "Integrated Security=SSPI (Windows authentication) is not supported on Linux: "
        "use a SQL Server login (datalink.ini [ConnectionString] ntauth=0 with userid and "
        "password), or a connstring with Driver= for ODBC/Kerberos setups");
}

std::string PgFromAdo(const std::vector<std::pair<std::string, std::string>>& kv, int timeout) {
  std::string host, port, out;
  if (const std::string* v = Find(kv, {"host", "server", "data source", "address", "addr"})) {
    host = Trim(*v);
    // "host,port" as in SQL Server data sources; a socket directory never contains ','.
    size_t comma = host.rfind(',');
    if (comma != std::string::npos) {
      port = Trim(host.substr(comma + 1));
      host = Trim(host.substr(0, comma));
    }
  }
  if (const std::string* v = Find(kv, {"port"})) port = Trim(*v);
  auto add = [&](const char* k, const std::string& v) {
    if (!out.empty()) out += ' ';
    out += k;
    out += '=';
    out += PqValue(v);
  };
  if (!host.empty()) add("host", host);
  if (!port.empty()) add("port", port);
  if (const std::string* v = Find(kv, {"database", "initial catalog", "dbname"})) add("dbname", *v);
  if (const std::string* v = Find(kv, {"user id", "uid", "user", "username", "user name"})) add("user", *v);
  if (const std::string* v = Find(kv, {"password", "pwd"})) add("password", *v);
  // Any libpq keyword given as such passes through.
  std::set<std::string> done = {"host", "port", "dbname", "user", "password"};
  for (const auto& [k, v] : kv) {
    std::string nk = NormKey(k);
    if (PqKeywords().count(nk) && !done.count(nk) && nk != "connect_timeout") add(nk.c_str(), v);
  }
  if (timeout > 0) {
    add("connect_timeout", std::to_string(timeout));
  } else if (const std::string* v = Find(kv, {"connect_timeout", "connect timeout", "connection timeout"})) {
    add("connect_timeout", Trim(*v));
  }
  return out;
}

}  // namespace

std::vector<std::pair<std::string, std::string>> SplitConnectionString(const std::string& s) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t i = 0, n = s.size();
  while (i < n) {
    // key up to '='
    size_t eq = s.find('=', i);
    size_t semi = s.find(';', i);
    if (eq == std::string::npos || (semi != std::string::npos && semi < eq)) {
      std::string junk = Trim(s.substr(i, (semi == std::string::npos ? n : semi) - i));
      if (!junk.empty()) throw EDatabaseError("connection string: no '=' after \"" + junk + "\"");
      if (semi == std::string::npos) break;
      i = semi + 1;
      continue;
    }
    std::string key = Trim(s.substr(i, eq - i));
    i = eq + 1;
    while (i < n && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::string value;
    if (i < n && (s[i] == '\'' || s[i] == '"' || s[i] == '{')) {
      char open = s[i];
      char close = open == '{' ? '}' : open;
      ++i;
      bool closed = false;
      while (i < n) {
        if (s[i] == close) {
          if (i + 1 < n && s[i + 1] == close) {  // doubled: a literal
            value += close;
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value += s[i++];
      }
      if (!closed) throw EDatabaseError("connection string: unterminated quoted value of \"" + key + "\"");
      while (i < n && s[i] != ';') {
        if (!std::isspace(static_cast<unsigned char>(s[i])))
          throw EDatabaseError("connection string: text after the quoted value of \"" + key + "\"");
        ++i;
      }
    } else {
      size_t end = s.find(';', i);
      if (end == std::string::npos) end = n;
      value = Trim(s.substr(i, end - i));
      i = end;
    }
    if (i < n && s[i] == ';') ++i;
    if (key.empty()) throw EDatabaseError("connection string: empty key");
    out.emplace_back(std::move(key), std::move(value));
  }
  return out;
}

std::string TranslateOleDbToOdbc(const std::string& OleDbConnStr) {
  auto kv = SplitConnectionString(OleDbConnStr);
  RejectIntegratedSecurity(kv);
  std::string server, port, instance;
  if (const std::string* v = Find(kv, {"data source", "server", "address", "addr", "network address"})) {
    server = Trim(*v);
    if (StartsWithNoCase(server, "tcp:")) server = Trim(server.substr(4));
    if (StartsWithNoCase(server, "np:") || StartsWithNoCase(server, "lpc:"))
      throw Unsupported("Data Source \"" + *v +
                        "\": named pipes and shared memory are Windows transports; use host,port (TCP)");
    size_t comma = server.rfind(',');
    if (comma != std::string::npos) {
      port = Trim(server.substr(comma + 1));
      server = Trim(server.substr(0, comma));
    }
    size_t bs = server.find('\\');
    if (bs != std::string::npos) {
      instance = Trim(server.substr(bs + 1));
      server = Trim(server.substr(0, bs));
    }
    std::string l = Lower(server);
    if (l == "(local)" || l == "." || l == "(localdb)") server = "localhost";
  }
  std::string out = "Driver=FreeTDS";
  auto add = [&](const char* k, const std::string& v) {
    out += ';';
    out += k;
    out += '=';
    out += OdbcValue(v);
  };
  if (!port.empty() || instance.empty()) {
    // An explicit port wins over an instance name (as in Microsoft's clients).
    add("Server", server);
    add("Port", port.empty() ? std::string("1433") : port);
  } else {
    // FreeTDS asks the SQL Server Browser (UDP 1434) for the instance's port.
    add("Server", server + "\\" + instance);
  }
  if (const std::string* v = Find(kv, {"initial catalog", "database"})) add("Database", *v);
  if (const std::string* v = Find(kv, {"user id", "uid", "user"})) add("UID", *v);
  if (const std::string* v = Find(kv, {"password", "pwd"})) add("PWD", *v);
  if (const std::string* v = Find(kv, {"application name", "app"})) add("APP", *v);
  if (const std::string* v = Find(kv, {"workstation id", "wsid"})) add("WSID", *v);
  // "Encrypt=False" meant "encrypt the login only" to the OLE DB provider; FreeTDS's default
  // (request) does the same, and "off" would fail against a server that forces encryption.
  if (const std::string* v = Find(kv, {"use encryption for data", "encrypt"})) {
    std::string e = Lower(Trim(*v));
    if (Truthy(*v) || e == "mandatory" || e == "strict") add("Encryption", "require");
  }
  // Without one the ODBC backend asks for the login's default language.
  if (const std::string* v = Find(kv, {"current language", "language"})) add("Language", *v);
  add("TDS_Version", "7.4");
  add("ClientCharset", "UTF-8");
  return out;
}

TConnTarget ParseConnectionString(const std::string& ConnStr, int ConnectTimeoutSeconds) {
  std::string s = Trim(ConnStr);
  if (s.empty()) throw EDatabaseError("empty connection string", TErrorKind::Connect);
  TConnTarget t;
  if (StartsWithNoCase(s, "postgresql://") || StartsWithNoCase(s, "postgres://")) {
    t.Backend = TBackend::PostgreSQL;
    t.Native = s;
    if (ConnectTimeoutSeconds > 0 && s.find("connect_timeout=") == std::string::npos)
      t.Native += (s.find('?') == std::string::npos ? "?" : "&") + std::string("connect_timeout=") +
                  std::to_string(ConnectTimeoutSeconds);
    return t;
  }
  if (LooksLikePqKeywords(s)) {
    t.Backend = TBackend::PostgreSQL;
    t.Native = s;
    if (ConnectTimeoutSeconds > 0 && s.find("connect_timeout") == std::string::npos)
      t.Native += " connect_timeout=" + std::to_string(ConnectTimeoutSeconds);
    return t;
  }
  auto kv = SplitConnectionString(s);
  if (Find(kv, {"driver"})) {
    t.Backend = TBackend::ODBC;
    t.Native = s;
    return t;
  }
  const std::string* provider = Find(kv, {"provider"});
  if (!provider) throw Unsupported("connection string names no Provider and no Driver: \"" + s + "\"");
  std::string p = Lower(Trim(*provider));
  if (p.rfind("postgres", 0) == 0 || p.rfind("pgsql", 0) == 0 || p.rfind("pgnp", 0) == 0) {
    t.Backend = TBackend::PostgreSQL;
    t.Native = PgFromAdo(kv, ConnectTimeoutSeconds);
    return t;
  }
  if (p.rfind("sqloledb", 0) == 0 || p.rfind("sqlncli", 0) == 0 || p.rfind("msoledbsql", 0) == 0) {
    t.Backend = TBackend::ODBC;
    t.Native = TranslateOleDbToOdbc(s);
    return t;
  }
  throw Unsupported("unsupported Provider \"" + *provider +
                    "\" (supported: SQLOLEDB for SQL Server, PostgreSQL)");
}

}  // namespace qv::db

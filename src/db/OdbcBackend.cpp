// The ODBC backend: SQL Server through unixODBC and the FreeTDS driver (production).
//
// Parameter refresh is SQLProcedureColumns; a call is "{? = call name(?,...)}" with every
// declared parameter bound POSITIONALLY in the order of the refresh (FreeTDS 1.3 ignores
// parameter names and has no SQLDescribeParam); all rows are fetched, then SQLMoreResults
// runs to the end so that the output parameters are set.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>

#include "db/Internal.h"

namespace qv::db {
namespace detail {
namespace {

constexpr SQLSMALLINT kSqlSsTime2 = -154;       // SQL Server time
constexpr SQLSMALLINT kSqlSsTimestampOffset = -155;
constexpr SQLSMALLINT kSqlSsXml = -152;

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

TFieldType TypeOfSql(SQLSMALLINT t, SQLULEN size, const std::string& typeName = {}) {
  std::string tn = Lower(typeName);
  if (tn.rfind("money", 0) == 0 || tn == "smallmoney") return TFieldType::ftCurrency;
  switch (t) {
    case SQL_CHAR:
    case SQL_WCHAR: return TFieldType::ftFixedChar;
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case kSqlSsXml: return TFieldType::ftString;
    case SQL_TINYINT:
    case SQL_SMALLINT: return TFieldType::ftSmallint;
    case SQL_INTEGER: return TFieldType::ftInteger;
    case SQL_BIGINT: return TFieldType::ftLargeint;
    case SQL_BIT: return TFieldType::ftBoolean;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return TFieldType::ftFloat;
    case SQL_DECIMAL:
    case SQL_NUMERIC: return TFieldType::ftBCD;
    case SQL_TYPE_DATE: return TFieldType::ftDate;
    case SQL_TYPE_TIME:
    case kSqlSsTime2: return TFieldType::ftTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
    case kSqlSsTimestampOffset: return TFieldType::ftDateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return TFieldType::ftBytes;
    case SQL_GUID: return TFieldType::ftGuid;
    default: (void)size; return TFieldType::ftString;
  }
}

bool IsSingle(SQLSMALLINT t, SQLULEN size) { return t == SQL_REAL || (t == SQL_FLOAT && size > 0 && size <= 24); }

struct Diag {
  std::string message;
  std::string state;
  bool link = false;
};

Diag Collect(SQLSMALLINT type, SQLHANDLE h) {
  Diag d;
  for (SQLSMALLINT i = 1; i < 20; ++i) {
    SQLCHAR state[6] = {0}, msg[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRec(type, h, i, state, &native, msg, sizeof msg, &len);
    if (!Ok(rc)) break;
    std::string st(reinterpret_cast<char*>(state));
    if (d.state.empty()) d.state = st;
    if (st.rfind("08", 0) == 0) d.link = true;
    if (!d.message.empty()) d.message += "; ";
    d.message += "[" + st + "] " + reinterpret_cast<char*>(msg);
  }
  if (d.message.empty()) d.message = "unknown ODBC error";
  return d;
}

struct Stmt {
  SQLHSTMT h = SQL_NULL_HSTMT;
  ~Stmt() {
    if (h != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h);
  }
};

std::string StripProcVersion(std::string s) {
  size_t semi = s.find(';');
  if (semi != std::string::npos) s.resize(semi);
  return s;
}

class OdbcBackend final : public Backend {
 public:
  OdbcBackend(TADOConnection& owner, SQLHENV env, SQLHDBC dbc) : Backend(owner), env_(env), dbc_(dbc) {}
  ~OdbcBackend() override {
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  TBackend Kind() const noexcept override { return TBackend::ODBC; }
  bool Alive() const noexcept override { return !lost_; }

  [[noreturn]] void Throw(SQLSMALLINT type, SQLHANDLE h) {
    Diag d = Collect(type, h);
    if (d.link) {
      lost_ = true;
      throw EDatabaseError("[ODBC] " + std::string(kNetworkErrorText) + "。请检查网络文档。(" + d.message + ")",
                           TErrorKind::LinkLost, d.state);
    }
    throw EDatabaseError("[ODBC] " + d.message, TErrorKind::General, d.state);
  }

  void NewStmt(Stmt& s) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s.h))) {
      s.h = SQL_NULL_HSTMT;
      Throw(SQL_HANDLE_DBC, dbc_);
    }
    // The driver cancels a request that runs longer; a driver without the option just
    // reports it, and the request runs as before.
    SQLSetStmtAttr(s.h, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(std::max(0, owner_.CommandTimeout()))), 0);
  }

  // Reads one column of the current row as text (nullopt = NULL).
  std::optional<std::string> GetText(SQLHSTMT h, SQLUSMALLINT col) {
    std::string out;
    char buf[4096];
    for (;;) {
      SQLLEN ind = 0;
      SQLRETURN rc = SQLGetData(h, col, SQL_C_CHAR, buf, sizeof buf, &ind);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, h);
      if (ind == SQL_NULL_DATA) return std::nullopt;
      if (rc == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buf))) {
        out.append(buf, sizeof buf - 1);  // truncated: more follows
        continue;
      }
      out.append(buf, static_cast<size_t>(ind));
      break;
    }
    return out;
  }

  void FetchAll(SQLHSTMT h, SQLSMALLINT ncols, TResultTable& t) {
    t.Columns.clear();
    t.Rows.clear();
    std::vector<SQLSMALLINT> sqlTypes;
    std::vector<SQLULEN> sizes;
    for (SQLSMALLINT c = 1; c <= ncols; ++c) {
      SQLCHAR name[256] = {0};
      SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!Ok(SQLDescribeCol(h, c, name, sizeof name, &nameLen, &type, &size, &digits, &nullable)))
        Throw(SQL_HANDLE_STMT, h);
      char tn[128] = {0};
      SQLSMALLINT tnLen = 0;
      SQLColAttribute(h, c, SQL_DESC_TYPE_NAME, tn, sizeof tn, &tnLen, nullptr);
      sqlTypes.push_back(type);
      sizes.push_back(size);
      t.Columns.push_back({reinterpret_cast<char*>(name), TypeOfSql(type, size, tn)});
    }
    for (;;) {
      SQLRETURN rc = SQLFetch(h);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, h);
      std::vector<std::optional<std::string>> row;
      row.reserve(ncols);
      for (SQLSMALLINT c = 1; c <= ncols; ++c) {
        const TFieldType ft = t.Columns[c - 1].Type;
        if (ft == TFieldType::ftFloat) {
          double v = 0;
          SQLLEN ind = 0;
          if (!Ok(SQLGetData(h, c, SQL_C_DOUBLE, &v, sizeof v, &ind))) Throw(SQL_HANDLE_STMT, h);
          if (ind == SQL_NULL_DATA)
            row.emplace_back(std::nullopt);
          else
            row.emplace_back(FormatFloat(v, IsSingle(sqlTypes[c - 1], sizes[c - 1]) ? 7 : 15));
          continue;
        }
        std::optional<std::string> v = GetText(h, c);
        if (!v) {
          row.emplace_back(std::nullopt);
          continue;
        }
        if (ft == TFieldType::ftBytes) *v = Lower(*v);
        row.emplace_back(RenderText(ft, *v));
      }
      t.Rows.push_back(std::move(row));
    }
  }

  // After SQLExecDirect: the first result set (when wanted), then every other result to
  // the end. Returns the last row count reported.
  int64_t Drain(SQLHSTMT h, TResultTable* out, bool* had) {
    int64_t affected = -1;
    for (;;) {
      SQLSMALLINT ncols = 0;
      if (!Ok(SQLNumResultCols(h, &ncols))) Throw(SQL_HANDLE_STMT, h);
      if (ncols > 0) {
        if (out && had && !*had) {
          FetchAll(h, ncols, *out);
          *had = true;
        }
      } else {
        SQLLEN n = -1;
        if (Ok(SQLRowCount(h, &n)) && n >= 0) affected = n;
      }
      SQLRETURN rc = SQLMoreResults(h);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, h);
    }
    return affected;
  }

  int64_t Query(const std::string& sql, TResultTable* out, bool* had) override {
    if (had) *had = false;
    Stmt s;
    NewStmt(s);
    owner_.CountRoundTrip();
    SQLRETURN rc = SQLExecDirect(s.h, (SQLCHAR*)sql.c_str(), SQL_NTS);
    if (rc == SQL_NO_DATA) return 0;
    if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
    return Drain(s.h, out, had);
  }

  int64_t QueryParams(const std::string& sql, const std::vector<std::string>& params, TResultTable* out,
                      bool* had) override {
    if (had) *had = false;
    Stmt s;
    NewStmt(s);
    // Every value as UTF-8 text (ClientCharset); the driver converts it for the server.
    std::vector<SQLLEN> lengths(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      lengths[i] = static_cast<SQLLEN>(params[i].size());
      SQLRETURN rc = SQLBindParameter(s.h, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_WVARCHAR,
                                      std::max<SQLULEN>(params[i].size(), 1), 0,
                                      const_cast<char*>(params[i].data()), lengths[i], &lengths[i]);
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
    }
    owner_.CountRoundTrip();
    SQLRETURN rc = SQLExecDirect(s.h, (SQLCHAR*)sql.c_str(), SQL_NTS);
    if (rc == SQL_NO_DATA) return 0;
    if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
    return Drain(s.h, out, had);
  }

  bool DescribeProc(const std::string& fullName, std::vector<TParameter>& outParams) override {
    outParams.clear();
    std::string schema, name = fullName;
    size_t dot = fullName.rfind('.');
    if (dot != std::string::npos) {
      schema = fullName.substr(0, dot);
      name = fullName.substr(dot + 1);
      size_t d2 = schema.rfind('.');  // db.schema.name: the catalogue part is ignored
      if (d2 != std::string::npos) schema = schema.substr(d2 + 1);
    }
    auto unbracket = [](std::string& s) {
      if (s.size() >= 2 && s.front() == '[' && s.back() == ']') s = s.substr(1, s.size() - 2);
    };
    unbracket(name);
    unbracket(schema);
    Stmt s;
    NewStmt(s);
    owner_.CountRoundTrip();
    SQLRETURN rc = SQLProcedureColumns(s.h, nullptr, 0, schema.empty() ? nullptr : (SQLCHAR*)schema.c_str(),
                                       schema.empty() ? 0 : SQL_NTS, (SQLCHAR*)name.c_str(), SQL_NTS, nullptr, 0);
    if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
    struct Row {
      int ordinal;
      TParameter p;
    };
    std::vector<Row> rows;
    bool found = false;
    for (;;) {
      rc = SQLFetch(s.h);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
      std::string proc = StripProcVersion(GetText(s.h, 3).value_or(""));
      // '_' and '%' are patterns in SQLProcedureColumns: keep only the exact name
      // (SQL Server's default collations compare names without case).
      if (!EqualsNoCase(proc, name)) continue;
      found = true;
      std::string col = GetText(s.h, 4).value_or("");
      int colType = std::atoi(GetText(s.h, 5).value_or("0").c_str());
      int dataType = std::atoi(GetText(s.h, 6).value_or("0").c_str());
      std::string typeName = GetText(s.h, 7).value_or("");
      int size = std::atoi(GetText(s.h, 8).value_or("0").c_str());
      int digits = std::atoi(GetText(s.h, 10).value_or("0").c_str());
      int ordinal = std::atoi(GetText(s.h, 18).value_or("0").c_str());
      TParameterDirection d;
      switch (colType) {
        case SQL_PARAM_INPUT: d = TParameterDirection::pdInput; break;
        case SQL_PARAM_INPUT_OUTPUT: d = TParameterDirection::pdInputOutput; break;
        case SQL_PARAM_OUTPUT: d = TParameterDirection::pdOutput; break;
        case SQL_RETURN_VALUE: d = TParameterDirection::pdReturnValue; break;
        default: continue;  // result columns
      }
      TParameter p(col, d, TypeOfSql(static_cast<SQLSMALLINT>(dataType), size, typeName), typeName);
      p.SetNative(dataType, size, digits);
      rows.push_back({ordinal, std::move(p)});
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.ordinal < b.ordinal; });
    for (auto& r : rows) outParams.push_back(std::move(r.p));
    return found;
  }

  void CallProc(const std::string& name, std::vector<TParameter>& params, bool wantRows, TResultTable& out,
                bool& had) override {
    had = false;
    bool ret = !params.empty() && params.front().Direction() == TParameterDirection::pdReturnValue;
    std::string sql = ret ? "{? = call " : "{call ";
    sql += name;
    size_t nargs = params.size() - (ret ? 1 : 0);
    if (nargs > 0) {
      sql += "(";
      for (size_t i = 0; i < nargs; ++i) sql += i ? ",?" : "?";
      sql += ")";
    }
    sql += "}";

    Stmt s;
    NewStmt(s);
    struct Buf {
      std::vector<char> data;
      SQLLEN ind = 0;
      SQLSMALLINT ctype = SQL_C_CHAR;
    };
    std::vector<Buf> bufs(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      TParameter& p = params[i];
      Buf& b = bufs[i];
      SQLSMALLINT io = SQL_PARAM_INPUT;
      switch (p.Direction()) {
        case TParameterDirection::pdOutput:
        case TParameterDirection::pdReturnValue: io = SQL_PARAM_OUTPUT; break;
        case TParameterDirection::pdInputOutput: io = SQL_PARAM_INPUT_OUTPUT; break;
        default: io = SQL_PARAM_INPUT; break;
      }
      const bool sendsValue = io != SQL_PARAM_OUTPUT && p.RawValue().has_value();
      SQLSMALLINT sqlType = static_cast<SQLSMALLINT>(p.NativeType() ? p.NativeType() : SQL_VARCHAR);
      SQLULEN colSize = p.Size() > 0 ? static_cast<SQLULEN>(p.Size()) : 0;
      SQLSMALLINT digits = static_cast<SQLSMALLINT>(p.Scale());
      if (IsIntegerType(p.DataType())) {
        b.ctype = SQL_C_SBIGINT;
        b.data.resize(sizeof(int64_t));
        int64_t v = sendsValue ? std::stoll(*p.RawValue()) : 0;
        std::memcpy(b.data.data(), &v, sizeof v);
        b.ind = sendsValue ? 0 : SQL_NULL_DATA;
      } else if (p.DataType() == TFieldType::ftFloat) {
        b.ctype = SQL_C_DOUBLE;
        b.data.resize(sizeof(double));
        double v = sendsValue ? std::strtod(p.RawValue()->c_str(), nullptr) : 0;
        std::memcpy(b.data.data(), &v, sizeof v);
        b.ind = sendsValue ? 0 : SQL_NULL_DATA;
      } else {
        b.ctype = SQL_C_CHAR;
        std::string v = sendsValue ? *p.RawValue() : std::string();
        size_t cap = v.size() + 1;
        if (io != SQL_PARAM_INPUT) {
          // room for the output: declared length in UTF-8 (up to 4 bytes a character)
          size_t want = p.Size() > 0 ? static_cast<size_t>(p.Size()) * 4 + 1 : 8001;
          cap = std::max(cap, std::min<size_t>(std::max<size_t>(want, 64), 65536));
        }
        b.data.assign(cap, 0);
        std::memcpy(b.data.data(), v.data(), v.size());
        b.ind = sendsValue ? static_cast<SQLLEN>(v.size()) : SQL_NULL_DATA;
        // The declared length counts server characters; the UTF-8 text may have more
        // bytes (a Chinese character: 3 here, 2 in GBK). Never let the client truncate.
        const bool text = p.DataType() == TFieldType::ftString || p.DataType() == TFieldType::ftFixedChar ||
                          p.DataType() == TFieldType::ftUnknown;
        if (text || colSize == 0) colSize = std::max<SQLULEN>({colSize, static_cast<SQLULEN>(v.size()), 1});
        if (p.DataType() == TFieldType::ftDateTime && colSize < 19) colSize = 23, digits = 3;
      }
      SQLRETURN rc = SQLBindParameter(s.h, static_cast<SQLUSMALLINT>(i + 1), io, b.ctype, sqlType, colSize, digits,
                                      b.data.data(), static_cast<SQLLEN>(b.data.size()), &b.ind);
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
    }
    owner_.CountRoundTrip();
    SQLRETURN rc = SQLExecDirect(s.h, (SQLCHAR*)sql.c_str(), SQL_NTS);
    if (rc != SQL_NO_DATA) {
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
      Drain(s.h, wantRows ? &out : nullptr, wantRows ? &had : nullptr);
    }
    // Every result consumed: the output parameters are set now.
    for (size_t i = 0; i < params.size(); ++i) {
      TParameter& p = params[i];
      if (p.Direction() == TParameterDirection::pdInput || p.Direction() == TParameterDirection::pdUnknown) continue;
      const Buf& b = bufs[i];
      if (b.ind == SQL_NULL_DATA) {
        p.SetRawValue(std::nullopt);
        continue;
      }
      if (b.ctype == SQL_C_SBIGINT) {
        int64_t v;
        std::memcpy(&v, b.data.data(), sizeof v);
        p.SetRawValue(std::to_string(v));
      } else if (b.ctype == SQL_C_DOUBLE) {
        double v;
        std::memcpy(&v, b.data.data(), sizeof v);
        p.SetRawValue(FormatFloat(v, IsSingle(static_cast<SQLSMALLINT>(p.NativeType()), p.Size()) ? 7 : 15));
      } else {
        // ind: the length available (more than the buffer when truncated), or SQL_NTS
        size_t n = b.ind >= 0 ? std::min<size_t>(static_cast<size_t>(b.ind), b.data.size() - 1)
                              : strnlen(b.data.data(), b.data.size());
        std::string v(b.data.data(), n);
        if (p.DataType() == TFieldType::ftBoolean)
          p.SetRawValue(v == "1" ? "1" : "0");
        else
          p.SetRawValue(RenderText(p.DataType(), v));
      }
    }
  }

 private:
  SQLHENV env_;
  SQLHDBC dbc_;
  bool lost_ = false;
};

bool DriverRegistered(SQLHENV env, const std::string& want) {
  SQLCHAR desc[256], attrs[1024];
  SQLSMALLINT dl = 0, al = 0;
  SQLUSMALLINT dir = SQL_FETCH_FIRST;
  while (Ok(SQLDrivers(env, dir, desc, sizeof desc, &dl, attrs, sizeof attrs, &al))) {
    if (EqualsNoCase(reinterpret_cast<char*>(desc), want)) return true;
    dir = SQL_FETCH_NEXT;
  }
  return false;
}

std::string FreeTdsLibrary() {
  for (const char* p : {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so", "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so",
                        "/usr/lib/odbc/libtdsodbc.so", "/usr/local/lib/libtdsodbc.so", "/usr/lib64/libtdsodbc.so"}) {
    std::error_code ec;
    if (std::filesystem::exists(p, ec)) return p;
  }
  return {};
}

// "Driver=FreeTDS" (or {FreeTDS}) with no such registered driver: use the library path.
std::string ResolveDriver(SQLHENV env, const std::string& conn) {
  auto kv = SplitConnectionString(conn);
  std::string out;
  bool changed = false;
  for (auto& [k, v] : kv) {
    if (EqualsNoCase(Trim(k), "driver") && EqualsNoCase(Trim(v), "FreeTDS") && !DriverRegistered(env, "FreeTDS")) {
      std::string lib = FreeTdsLibrary();
      if (!lib.empty()) {
        v = lib;
        changed = true;
      }
    }
  }
  if (!changed) return conn;
  for (auto& [k, v] : kv) {
    if (!out.empty()) out += ';';
    out += k + "=";
    bool brace = v.find_first_of(";{}") != std::string::npos;
    if (brace) {
      out += '{';
      for (char c : v) {
        out += c;
        if (c == '}') out += '}';
      }
      out += '}';
    } else {
      out += v;
    }
  }
  return out;
}

}  // namespace

std::unique_ptr<Backend> OpenOdbc(TADOConnection& Owner, const std::string& ConnStr, int TimeoutSeconds) {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
    throw EDatabaseError("[ODBC] cannot allocate an environment (unixODBC)", TErrorKind::Connect);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw EDatabaseError("[ODBC] cannot allocate a connection handle", TErrorKind::Connect);
  }
  if (TimeoutSeconds > 0) {
    SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, (SQLPOINTER)(intptr_t)TimeoutSeconds, 0);
    SQLSetConnectAttr(dbc, SQL_ATTR_CONNECTION_TIMEOUT, (SQLPOINTER)(intptr_t)TimeoutSeconds, 0);
  }
  std::string conn;
  try {
    conn = ResolveDriver(env, ConnStr);
  } catch (const EDatabaseError&) {
    conn = ConnStr;  // let the driver manager judge it
  }
  SQLCHAR outStr[2048];
  SQLSMALLINT outLen = 0;
  SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR*)conn.c_str(), SQL_NTS, outStr, sizeof outStr, &outLen,
                                  SQL_DRIVER_NOPROMPT);
  if (!Ok(rc)) {
    Diag d = Collect(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    throw EDatabaseError("[ODBC] cannot connect: " + d.message, TErrorKind::Connect, d.state);
  }
  return std::make_unique<OdbcBackend>(Owner, env, dbc);
}

}  // namespace detail

std::string FindFreeTdsDriver() {
  SQLHENV env = SQL_NULL_HENV;
  if (detail::Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
    bool reg = detail::DriverRegistered(env, "FreeTDS");
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    if (reg) return "FreeTDS";
  }
  return detail::FreeTdsLibrary();
}

}  // namespace qv::db

// The ODBC backend: SQL Server through unixODBC and the FreeTDS driver (production).
//
// Parameter refresh is SQLProcedureColumns; a call is "{? = call name(?,...)}" with every
// declared parameter bound POSITIONALLY in the order of the refresh (FreeTDS 1.3 ignores
// parameter names and has no SQLDescribeParam); all rows are fetched, then SQLMoreResults
// runs to the end so that the output parameters are set.
//
// Around FreeTDS (FreeTds.h): the connection string is written the way FreeTDS reads it and
// passed as UTF-16 (SQLDriverConnectW), an instance name is looked up by the layer, dates
// are bound as timestamps read by the layer, and a request whose cancel goes unanswered is
// ended by cutting the socket a fixed time after the driver sent the cancel.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <mutex>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

#include "db/Internal.h"
#include "db/FreeTds.h"

namespace qv::db {
namespace detail {
namespace {

constexpr SQLSMALLINT kSqlSsTime2 = -154;  // SQL Server time
constexpr SQLSMALLINT kSqlSsTimestampOffset = -155;
constexpr SQLSMALLINT kSqlSsXml = -152;

bool Ok(SQLRETURN rc) {
  return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO;
}

TFieldType TypeOfSql(SQLSMALLINT t, SQLULEN size, const std::string& typeName = {}) {
  std::string tn = Lower(typeName);
  if (tn.rfind("money", 0) == 0 || tn == "smallmoney") return TFieldType::ftCurrency;
  switch (t) {
    case SQL_CHAR:
    case SQL_WCHAR:
      return TFieldType::ftFixedChar;
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case kSqlSsXml:
      return TFieldType::ftString;
    case SQL_TINYINT:
    case SQL_SMALLINT:
      return TFieldType::ftSmallint;
    case SQL_INTEGER:
      return TFieldType::ftInteger;
    case SQL_BIGINT:
      return TFieldType::ftLargeint;
    case SQL_BIT:
      return TFieldType::ftBoolean;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return TFieldType::ftFloat;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return TFieldType::ftBCD;
    case SQL_TYPE_DATE:
      return TFieldType::ftDate;
    case SQL_TYPE_TIME:
    case kSqlSsTime2:
      return TFieldType::ftTime;
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATETIME:
    case kSqlSsTimestampOffset:
      return TFieldType::ftDateTime;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return TFieldType::ftBytes;
    case SQL_GUID:
      return TFieldType::ftGuid;
    default:
      (void)size;
      return TFieldType::ftString;
  }
}

bool IsSingle(SQLSMALLINT t, SQLULEN size) {
  return t == SQL_REAL || (t == SQL_FLOAT && size > 0 && size <= 24);
}

constexpr SQLSMALLINT kSqlSsTime2Type = -154;
// The wait after the driver's cancel of a request that ran past the command time-out.
constexpr int kCancelWaitSeconds = 5;

bool IsDateSqlType(int t) {
  return t == SQL_TYPE_DATE || t == SQL_TYPE_TIME || t == SQL_TYPE_TIMESTAMP || t == SQL_DATETIME ||
         t == SQL_TIME || t == SQL_TIMESTAMP || t == kSqlSsTime2Type;
}

// The wide calls: after SQLDriverConnectW, FreeTDS reads and writes the strings of the
// narrow calls (statement texts, names, messages) as ISO-8859-1. Data keeps its client
// character set (UTF-8).
std::u16string Utf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    uint32_t cp = n == 4 ? c & 0x07u : n == 3 ? c & 0x0Fu : n == 2 ? c & 0x1Fu : c;
    if (i + n > s.size()) n = 1, cp = 0xFFFD;
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3Fu);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::vector<SQLWCHAR> W(const std::string& s) {
  std::u16string w = Utf16(s);
  std::vector<SQLWCHAR> out(w.begin(), w.end());
  out.push_back(0);
  return out;
}

std::string Utf8(const SQLWCHAR* w, size_t n) {
  std::string out;
  for (size_t i = 0; i < n && w[i]; ++i) {
    uint32_t cp = w[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && w[i + 1] >= 0xDC00 && w[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (w[++i] - 0xDC00);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

struct Diag {
  std::string message;
  std::string state;      // the first SQLSTATE
  std::string linkState;  // the first SQLSTATE of class 08, if any
  std::vector<long> natives;
};

Diag Collect(SQLSMALLINT type, SQLHANDLE h) {
  Diag d;
  for (SQLSMALLINT i = 1; i < 20; ++i) {
    SQLWCHAR state[6] = {0}, msg[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLRETURN rc = SQLGetDiagRecW(type, h, i, state, &native, msg, 1024, &len);
    if (!Ok(rc)) break;
    std::string st = Utf8(state, 5);
    if (d.state.empty()) d.state = st;
    if (st.rfind("08", 0) == 0 && d.linkState.empty()) d.linkState = st;
    d.natives.push_back(native);
    if (!d.message.empty()) d.message += "; ";
    d.message += "[" + st + "] " + Utf8(msg, 1024);
  }
  if (d.message.empty()) d.message = "unknown ODBC error";
  return d;
}

bool Has(const Diag& d, long native) {
  return std::find(d.natives.begin(), d.natives.end(), native) != d.natives.end();
}

std::mutex g_logMu;
std::function<void(const std::string&)>& MessageLog() {
  static std::function<void(const std::string&)> log;
  return log;
}
void LogServerMessage(const std::string& m) {
  std::function<void(const std::string&)> log;
  {
    std::lock_guard<std::mutex> l(g_logMu);
    log = MessageLog();
  }
  if (log) log(m);
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

std::string TimestampText(const SQL_TIMESTAMP_STRUCT& t) {
  char buf[48];
  snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u.%03u", t.year, t.month, t.day, t.hour, t.minute,
           t.second, static_cast<unsigned>(t.fraction / 1000000));
  return buf;
}

// Ends a request on time when the driver's cancel of it goes unanswered: FreeTDS waits for the
// cancel's answer as long again as for the request. One thread per session, idle between
// requests; it cuts the socket once the server has been silent for the command time-out plus
// kCancelWaitSeconds, and the driver then fails the request with the connection dead.
class RequestWatch {
 public:
  explicit RequestWatch(TSocketWatch& Socket) : socket_(Socket), thread_([this] { Run(); }) {}
  ~RequestWatch() {
    {
      std::lock_guard<std::mutex> l(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Begin(int CommandTimeout) {
    std::lock_guard<std::mutex> l(mu_);
    armed_ = CommandTimeout > 0;
    limitMs_ = static_cast<int64_t>(CommandTimeout + kCancelWaitSeconds) * 1000;
    start_ = std::chrono::steady_clock::now();
    cut_ = false;
    cv_.notify_all();
  }
  void End() {
    std::lock_guard<std::mutex> l(mu_);
    armed_ = false;
  }
  bool Cut() const { return cut_; }

 private:
  void Run() {
    std::unique_lock<std::mutex> l(mu_);
    while (!stop_) {
      if (!armed_) {
        cv_.wait(l);
        continue;
      }
      cv_.wait_for(l, std::chrono::milliseconds(100));
      if (stop_ || !armed_) continue;
      const int64_t elapsed =
          std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_)
              .count();
      const int64_t silent = socket_.SilentMs();
      if (silent < 0 || std::min(elapsed, silent) < limitMs_) continue;
      cut_ = true;  // before the cut: the driver's thread wakes at once and reads it
      if (!socket_.Cut()) cut_ = false;
      armed_ = false;
    }
  }

  TSocketWatch& socket_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false, armed_ = false;
  std::atomic<bool> cut_{false};
  int64_t limitMs_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::thread thread_;
};

class OdbcBackend final : public Backend {
 public:
  OdbcBackend(TADOConnection& owner, SQLHENV env, SQLHDBC dbc, TSocketWatch socket)
      : Backend(owner), env_(env), dbc_(dbc), socket_(socket) {
    if (socket_.Known()) watch_ = std::make_unique<RequestWatch>(socket_);
  }
  ~OdbcBackend() override {
    watch_.reset();
    SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  TBackend Kind() const noexcept override { return TBackend::ODBC; }
  bool Alive() const noexcept override { return !lost_; }

  // The driver's own word on the link: a request that failed on a broken connection is a
  // lost link at once, whatever SQLSTATE the driver put first (FreeTDS reports a server
  // that went away as "01000" with native error 20017, and 08S01 only on the next call).
  bool Dead() {
    SQLUINTEGER dead = SQL_CD_FALSE;
    return Ok(SQLGetConnectAttr(dbc_, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr)) && dead == SQL_CD_TRUE;
  }

  [[noreturn]] void Throw(SQLSMALLINT type, SQLHANDLE h) {
    Diag d = Collect(type, h);
    if (!d.linkState.empty() || Dead()) {
      lost_ = true;
      std::string why = d.message;
      if (watch_ && watch_->Cut())
        why = "the server answered neither the request within the command time-out (" +
              std::to_string(owner_.CommandTimeout()) + " s) nor its cancel within " +
              std::to_string(kCancelWaitSeconds) + " s; " + why;
      throw EDatabaseError("[ODBC] " + std::string(kNetworkErrorText) + "。请检查网络文档。(" + why + ")",
                           TErrorKind::LinkLost, d.linkState.empty() ? std::string("08S01") : d.linkState);
    }
    throw EDatabaseError("[ODBC] " + d.message, TErrorKind::General, d.state);
  }

  // Runs the driver's blocking calls of one request on statement h. With a wait hook they run
  // on a thread of their own, which signals an eventfd when done, and this thread waits on it
  // through the hook; a cancel asked through the hook goes to the driver (SQLCancel, which
  // ODBC allows from another thread) and the request then fails as cancelled. Without a hook
  // they run here, as every ODBC call did.
  void Offload(SQLHSTMT h, const std::function<void()>& work) {
    IDbWait* hook = owner_.WaitHook();
    const int done = hook ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
    if (done < 0) {
      work();
      return;
    }
    std::exception_ptr failure;
    std::thread worker([&] {
      try {
        work();
      } catch (...) {
        failure = std::current_exception();
      }
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t n = write(done, &one, sizeof one);
    });
    bool gaveUp = false;
    for (pollfd p{done, POLLIN, 0};;) {
      if (gaveUp) {
        // The driver answers the cancel (or the request watch cuts the link); nothing else
        // runs meanwhile.
        if (poll(&p, 1, -1) > 0) break;
        continue;
      }
      if (hook->WaitReadable(done, -1) == IDbWait::TResult::Cancelled) {
        SQLCancel(h);
        gaveUp = true;
        continue;
      }
      if (poll(&p, 1, 0) > 0) break;
    }
    worker.join();
    close(done);
    if (failure) {
      if (gaveUp) {
        try {
          std::rethrow_exception(failure);
        } catch (const EDatabaseError& e) {
          if (e.LinkLost()) throw;
        }
        throw EDatabaseError("[ODBC] the request was cancelled: the program gave it up", TErrorKind::Cancelled,
                             "HY008");
      }
      std::rethrow_exception(failure);
    }
  }

  // Arms the watch for one request, from the execute to the last result.
  struct Watched {
    OdbcBackend& b;
    explicit Watched(OdbcBackend& B) : b(B) {
      if (b.watch_) b.watch_->Begin(b.owner_.CommandTimeout());
    }
    ~Watched() {
      if (b.watch_) b.watch_->End();
    }
  };

  void NewStmt(Stmt& s) {
    if (!Ok(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &s.h))) {
      s.h = SQL_NULL_HSTMT;
      Throw(SQL_HANDLE_DBC, dbc_);
    }
    // The driver cancels a request that runs longer; a driver without the option just
    // reports it, and the request runs as before.
    SQLSetStmtAttr(s.h, SQL_ATTR_QUERY_TIMEOUT,
                   reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(std::max(0, owner_.CommandTimeout()))),
                   0);
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
      SQLWCHAR name[256] = {0};
      SQLSMALLINT nameLen = 0, type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!Ok(SQLDescribeColW(h, c, name, 256, &nameLen, &type, &size, &digits, &nullable)))
        Throw(SQL_HANDLE_STMT, h);
      SQLWCHAR tn[128] = {0};
      SQLSMALLINT tnLen = 0;
      SQLColAttributeW(h, c, SQL_DESC_TYPE_NAME, tn, sizeof tn, &tnLen, nullptr);
      sqlTypes.push_back(type);
      sizes.push_back(size);
      t.Columns.push_back({Utf8(name, 256), TypeOfSql(type, size, Utf8(tn, 128))});
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
            row.emplace_back(IsSingle(sqlTypes[c - 1], sizes[c - 1]) ? FormatSingle(v) : FormatFloat(v, 15));
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
  // the end. Returns the last row count reported. An error the server raises after the first
  // result set (a procedure that fails after its select) keeps the rows, as the OLE DB
  // provider delivered them: it goes to the server-message log, and the results go on.
  int64_t Drain(SQLHSTMT h, TResultTable* out, bool* had, const std::string& what) {
    int64_t affected = -1;
    int errorsAfterRows = 0;
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
      if (!Ok(rc)) {
        if (out && had && *had && ++errorsAfterRows <= 100 && !Dead()) {
          Diag d = Collect(SQL_HANDLE_STMT, h);
          if (d.linkState.empty()) {
            LogServerMessage(what + ": error after the rows, the rows are kept: " + d.message);
            continue;
          }
        }
        Throw(SQL_HANDLE_STMT, h);
      }
    }
    return affected;
  }

  int64_t Query(const std::string& sql, TResultTable* out, bool* had) override {
    if (had) *had = false;
    Stmt s;
    NewStmt(s);
    owner_.CountRoundTrip();
    int64_t affected = 0;
    Offload(s.h, [&] {
      Watched w(*this);
      SQLRETURN rc = SQLExecDirectW(s.h, W(sql).data(), SQL_NTS);
      if (rc == SQL_NO_DATA) return;
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
      affected = Drain(s.h, out, had, sql);
    });
    return affected;
  }

  int64_t QueryParams(const std::string& sql, const std::vector<std::string>& params, TResultTable* out,
                      bool* had) override {
    if (had) *had = false;
    Stmt s;
    NewStmt(s);
    // Every value as UTF-16 text: the connection speaks the wide calls, and the driver reads
    // a narrow buffer as ISO-8859-1 then.
    std::vector<std::vector<SQLWCHAR>> wide(params.size());
    std::vector<SQLLEN> lengths(params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      wide[i] = W(params[i]);
      const size_t chars = wide[i].empty() ? 0 : wide[i].size() - 1;  // without the terminator
      lengths[i] = static_cast<SQLLEN>(chars * sizeof(SQLWCHAR));
      SQLRETURN rc =
          SQLBindParameter(s.h, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
                           std::max<SQLULEN>(chars, 1), 0, wide[i].data(), lengths[i], &lengths[i]);
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
    }
    owner_.CountRoundTrip();
    int64_t affected = 0;
    Offload(s.h, [&] {
      Watched w(*this);
      SQLRETURN rc = SQLExecDirectW(s.h, W(sql).data(), SQL_NTS);
      if (rc == SQL_NO_DATA) return;
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
      affected = Drain(s.h, out, had, sql);
    });
    return affected;
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
    struct Row {
      int ordinal;
      TParameter p;
    };
    std::vector<Row> rows;
    bool found = false;
    Offload(s.h, [&] {
      Watched w(*this);
      std::vector<SQLWCHAR> wschema = W(schema), wname = W(name);
      SQLRETURN rc = SQLProcedureColumnsW(s.h, nullptr, 0, schema.empty() ? nullptr : wschema.data(),
                                          schema.empty() ? 0 : SQL_NTS, wname.data(), SQL_NTS, nullptr, 0);
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
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
          case SQL_PARAM_INPUT:
            d = TParameterDirection::pdInput;
            break;
          case SQL_PARAM_INPUT_OUTPUT:
            d = TParameterDirection::pdInputOutput;
            break;
          case SQL_PARAM_OUTPUT:
            d = TParameterDirection::pdOutput;
            break;
          case SQL_RETURN_VALUE:
            d = TParameterDirection::pdReturnValue;
            break;
          default:
            continue;  // result columns
        }
        TParameter p(col, d, TypeOfSql(static_cast<SQLSMALLINT>(dataType), size, typeName), typeName);
        p.SetNative(dataType, size, digits);
        rows.push_back({ordinal, std::move(p)});
      }
    });
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.ordinal < b.ordinal; });
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
        case TParameterDirection::pdReturnValue:
          io = SQL_PARAM_OUTPUT;
          break;
        case TParameterDirection::pdInputOutput:
          io = SQL_PARAM_INPUT_OUTPUT;
          break;
        default:
          io = SQL_PARAM_INPUT;
          break;
      }
      const bool sendsValue = io != SQL_PARAM_OUTPUT && p.RawValue().has_value();
      SQLSMALLINT sqlType = static_cast<SQLSMALLINT>(p.NativeType() ? p.NativeType() : SQL_VARCHAR);
      SQLULEN colSize = p.Size() > 0 ? static_cast<SQLULEN>(p.Size()) : 0;
      SQLSMALLINT digits = static_cast<SQLSMALLINT>(p.Scale());
      const bool dateType = IsDateSqlType(p.NativeType()) || p.DataType() == TFieldType::ftDate ||
                            p.DataType() == TFieldType::ftTime || p.DataType() == TFieldType::ftDateTime;
      std::optional<TTimestamp> when;
      if (dateType && sendsValue) {
        // FreeTDS reads a date text by rules of its own and makes 1900-01-01 of what it does
        // not know; the layer reads the texts of this system exactly and leaves others
        // (month names, ...) to the server as text.
        when = ParseDateTimeText(*p.RawValue());
        if (!when && LooksLikeNumericDate(*p.RawValue()))
          throw EDatabaseError("\"" + *p.RawValue() + "\" is not a valid date and time for " + p.Name(),
                               TErrorKind::Conversion);
      }
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
      } else if (when) {
        b.ctype = SQL_C_TYPE_TIMESTAMP;
        SQL_TIMESTAMP_STRUCT ts{};
        ts.year = static_cast<SQLSMALLINT>(when->Year);
        ts.month = static_cast<SQLUSMALLINT>(when->Month);
        ts.day = static_cast<SQLUSMALLINT>(when->Day);
        ts.hour = static_cast<SQLUSMALLINT>(when->Hour);
        ts.minute = static_cast<SQLUSMALLINT>(when->Minute);
        ts.second = static_cast<SQLUSMALLINT>(when->Second);
        ts.fraction = when->Nanos;
        b.data.resize(sizeof ts);
        std::memcpy(b.data.data(), &ts, sizeof ts);
        b.ind = sizeof ts;
        if (!IsDateSqlType(sqlType)) sqlType = SQL_TYPE_TIMESTAMP;
        if (sqlType == SQL_TYPE_TIMESTAMP || sqlType == SQL_TIMESTAMP || sqlType == SQL_DATETIME) {
          colSize = 23;
          digits = 3;
        }
      } else {
        b.ctype = SQL_C_CHAR;
        std::string v = sendsValue ? *p.RawValue() : std::string();
        if (sendsValue && (p.DataType() == TFieldType::ftBCD || p.DataType() == TFieldType::ftCurrency))
          v = PlainDecimal(v).value_or(v);                  // the driver refuses "1e3" for numeric and money
        if (dateType && sendsValue) sqlType = SQL_VARCHAR;  // a text for the server to read
        size_t cap = v.size() + 1;
        const bool text = p.DataType() == TFieldType::ftString || p.DataType() == TFieldType::ftFixedChar ||
                          p.DataType() == TFieldType::ftUnknown;
        if (io != SQL_PARAM_INPUT) {
          // An output text whose length the refresh does not know (varchar(max) reports 0)
          // is declared varchar(8000): the server cuts an output to the declared length.
          if (text && colSize == 0) colSize = 8000;
          // room for the output: declared length in UTF-8 (up to 4 bytes a character)
          size_t want = colSize > 0 ? static_cast<size_t>(colSize) * 4 + 1 : 8001;
          cap = std::max(cap, std::min<size_t>(std::max<size_t>(want, 64), 65536));
        }
        b.data.assign(cap, 0);
        std::memcpy(b.data.data(), v.data(), v.size());
        b.ind = sendsValue ? static_cast<SQLLEN>(v.size()) : SQL_NULL_DATA;
        // The declared length counts server characters; the UTF-8 text may have more
        // bytes (a Chinese character: 3 here, 2 in GBK). Never let the client truncate.
        if (text || colSize == 0 || (dateType && sendsValue))
          colSize = std::max<SQLULEN>({colSize, static_cast<SQLULEN>(v.size()), 1});
        if (p.DataType() == TFieldType::ftDateTime && colSize < 19 && !sendsValue) colSize = 23, digits = 3;
      }
      SQLRETURN rc = SQLBindParameter(s.h, static_cast<SQLUSMALLINT>(i + 1), io, b.ctype, sqlType, colSize,
                                      digits, b.data.data(), static_cast<SQLLEN>(b.data.size()), &b.ind);
      if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
    }
    owner_.CountRoundTrip();
    Offload(s.h, [&] {
      Watched w(*this);
      SQLRETURN rc = SQLExecDirectW(s.h, W(sql).data(), SQL_NTS);
      if (rc != SQL_NO_DATA) {
        if (!Ok(rc)) Throw(SQL_HANDLE_STMT, s.h);
        Drain(s.h, wantRows ? &out : nullptr, wantRows ? &had : nullptr, name);
      }
    });
    // Every result consumed: the output parameters are set now.
    for (size_t i = 0; i < params.size(); ++i) {
      TParameter& p = params[i];
      if (p.Direction() == TParameterDirection::pdInput || p.Direction() == TParameterDirection::pdUnknown)
        continue;
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
        p.SetRawValue(IsSingle(static_cast<SQLSMALLINT>(p.NativeType()), p.Size()) ? FormatSingle(v)
                                                                                   : FormatFloat(v, 15));
      } else if (b.ctype == SQL_C_TYPE_TIMESTAMP) {
        SQL_TIMESTAMP_STRUCT ts;
        std::memcpy(&ts, b.data.data(), sizeof ts);
        p.SetRawValue(
            RenderText(p.DataType() == TFieldType::ftUnknown ? TFieldType::ftDateTime : p.DataType(),
                       TimestampText(ts)));
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
  TSocketWatch socket_;
  std::unique_ptr<RequestWatch> watch_;
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
  for (const char* p :
       {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so", "/usr/lib/aarch64-linux-gnu/odbc/libtdsodbc.so",
        "/usr/lib/odbc/libtdsodbc.so", "/usr/local/lib/libtdsodbc.so", "/usr/lib64/libtdsodbc.so"}) {
    std::error_code ec;
    if (std::filesystem::exists(p, ec)) return p;
  }
  return {};
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string* Value(Pairs& kv, const char* key) {
  std::string* found = nullptr;  // the last occurrence wins
  for (auto& [k, v] : kv)
    if (EqualsNoCase(Trim(k), key)) found = &v;
  return found;
}

bool IsLocalHost(const std::string& host) {
  std::string h = Lower(host);
  return h == "localhost" || h == "(local)" || h == "." || h == "::1" || h.rfind("127.", 0) == 0;
}

// The handles of a connection being opened, freed unless handed on.
struct Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  ~Handles() {
    if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
};

}  // namespace

std::unique_ptr<Backend> OpenOdbc(TADOConnection& Owner, const std::string& ConnStr, int TimeoutSeconds) {
  Handles h;
  if (!Ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.env))) {
    h.env = SQL_NULL_HENV;
    throw EDatabaseError("[ODBC] cannot allocate an environment (unixODBC)", TErrorKind::Connect);
  }
  SQLSetEnvAttr(h.env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
  if (!Ok(SQLAllocHandle(SQL_HANDLE_DBC, h.env, &h.dbc))) {
    h.dbc = SQL_NULL_HDBC;
    throw EDatabaseError("[ODBC] cannot allocate a connection handle", TErrorKind::Connect);
  }
  if (TimeoutSeconds > 0) {
    SQLSetConnectAttr(h.dbc, SQL_ATTR_LOGIN_TIMEOUT, (SQLPOINTER)(intptr_t)TimeoutSeconds, 0);
    SQLSetConnectAttr(h.dbc, SQL_ATTR_CONNECTION_TIMEOUT, (SQLPOINTER)(intptr_t)TimeoutSeconds, 0);
  }

  std::string conn = ConnStr;
  std::string host, instance, port;
  bool lookedUp = false;
  Pairs kv;
  bool parsed = true;
  try {
    kv = SplitConnectionString(ConnStr);
  } catch (const EDatabaseError&) {
    parsed = false;  // let the driver manager judge it
  }
  std::string* driver = parsed ? Value(kv, "driver") : nullptr;
  const bool freetds = driver && (EqualsNoCase(Trim(*driver), "FreeTDS") ||
                                  Lower(*driver).find("libtdsodbc") != std::string::npos);
  if (freetds) {
    if (EqualsNoCase(Trim(*driver), "FreeTDS") && !DriverRegistered(h.env, "FreeTDS")) {
      std::string lib = FreeTdsLibrary();
      if (!lib.empty()) *driver = lib;
    }
    std::string* server = Value(kv, "server");
    std::string* portValue = Value(kv, "port");
    if (portValue) port = Trim(*portValue);
    if (server) {
      host = Trim(*server);
      size_t bs = host.find('\\');
      if (bs != std::string::npos) {
        instance = Trim(host.substr(bs + 1));
        host = Trim(host.substr(0, bs));
        *server = host;
        if (port.empty()) {
          // Asked here, once and briefly, instead of by FreeTDS (16 tries a second apart).
          std::string why;
          const int budget = std::clamp(TimeoutSeconds > 0 ? TimeoutSeconds : 2, 1, 2);
          int p = LookupInstancePort(host, instance, std::chrono::seconds(budget), &why);
          if (p <= 0)
            throw EDatabaseError("[ODBC] cannot connect to " + host + "\\" + instance + ": " + why,
                                 TErrorKind::Connect);
          port = std::to_string(p);
          kv.emplace_back("Port", port);
          lookedUp = true;
        }
      }
      addrinfo hints{};
      hints.ai_socktype = SOCK_STREAM;
      addrinfo* ai = nullptr;
      if (!host.empty() && getaddrinfo(host.c_str(), nullptr, &hints, &ai) != 0)
        throw EDatabaseError(
            "[ODBC] cannot connect: the server name \"" + host +
                "\" does not resolve on this machine (a Windows machine name often does not on "
                "Linux): write its IP address instead, or add the name to /etc/hosts",
            TErrorKind::Connect);
      if (ai) freeaddrinfo(ai);
    }
    // The login's default language unless the string names one: FreeTDS would send
    // us_english, where the installations' logins mostly have Simplified Chinese.
    if (!Value(kv, "language")) kv.emplace_back("Language", "");
    conn = FreeTdsConnectionString(kv);
  } else if (parsed && driver) {
    conn = ConnStr;
  }

  // Names, user names and passwords may be Chinese: the narrow call would hand them to
  // FreeTDS as ISO-8859-1.
  std::vector<SQLWCHAR> in = W(conn);
  SQLWCHAR outStr[1024];
  SQLSMALLINT outLen = 0;
  const std::vector<int> before = TcpSockets();
  SQLRETURN rc =
      SQLDriverConnectW(h.dbc, nullptr, in.data(), SQL_NTS, outStr, 1024, &outLen, SQL_DRIVER_NOPROMPT);
  if (!Ok(rc)) {
    Diag d = Collect(SQL_HANDLE_DBC, h.dbc);
    std::string msg = "[ODBC] cannot connect: " + d.message;
    if (freetds) {
      if (lookedUp) ForgetInstancePort(host, instance);
      if (Has(d, 18456)) {
        msg +=
            " -- the server refused the login: check the user name and password, and that SQL Server "
            "authentication (mixed mode) is on";
      } else if (Has(d, 4060)) {
        msg += " -- the login cannot open that database: check its name (dbname in datalink.ini)";
      } else if (Has(d, 20009) || Has(d, 20003) || d.state == "08001") {
        msg += " -- nothing accepted a connection at " + host + " port " + (port.empty() ? "1433" : port) +
               ": check that SQL Server runs there with its TCP/IP protocol on, that the port is right and "
               "that the "
               "firewall lets it through";
      }
      if (host.empty())
        msg += "; no server is set (server= in datalink.ini is empty)";
      else if (IsLocalHost(host))
        msg +=
            "; note: \"(local)\", \".\" and localhost mean this Linux machine, not the SQL Server's Windows "
            "machine: write that machine's address";
    }
    throw EDatabaseError(msg, TErrorKind::Connect, d.state);
  }
  TSocketWatch socket;
  if (freetds)
    socket.Adopt(before, TcpSockets(), static_cast<uint16_t>(port.empty() ? 1433 : std::atoi(port.c_str())));
  auto backend = std::make_unique<OdbcBackend>(Owner, h.env, h.dbc, socket);
  h.env = SQL_NULL_HENV;
  h.dbc = SQL_NULL_HDBC;
  return backend;
}

}  // namespace detail

void SetServerMessageLog(std::function<void(const std::string&)> Log) {
  std::lock_guard<std::mutex> l(detail::g_logMu);
  detail::MessageLog() = std::move(Log);
}

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

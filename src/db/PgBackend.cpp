// The libpq backend: the demo default and the test suite's real server.
//
// A procedure call is one simple-protocol query text, e.g. for a reading procedure
//   BEGIN; CALL public."P"('1'::integer, ..., 'qv_rs'::refcursor); SAVEPOINT qv_fetch;
//   FETCH ALL FROM "qv_rs"; COMMIT
// so that the whole result arrives in one round trip (docs/database.md).
#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "db/Internal.h"

namespace qv::db::detail {
namespace {

constexpr const char* kCursor = "qv_rs";

TFieldType TypeOfOid(Oid oid) {
  switch (oid) {
    case 16:
      return TFieldType::ftBoolean;
    case 17:
      return TFieldType::ftBytes;
    case 18:
      return TFieldType::ftFixedChar;  // "char"
    case 19:
      return TFieldType::ftString;  // name
    case 20:
      return TFieldType::ftLargeint;
    case 21:
      return TFieldType::ftSmallint;
    case 23:
      return TFieldType::ftInteger;
    case 26:
      return TFieldType::ftLargeint;  // oid
    case 25:
      return TFieldType::ftString;
    case 700:
    case 701:
      return TFieldType::ftFloat;
    case 790:
      return TFieldType::ftCurrency;
    case 1042:
      return TFieldType::ftFixedChar;
    case 1043:
      return TFieldType::ftString;
    case 1082:
      return TFieldType::ftDate;
    case 1083:
    case 1266:
      return TFieldType::ftTime;
    case 1114:
    case 1184:
      return TFieldType::ftDateTime;
    case 1700:
      return TFieldType::ftBCD;
    case 1790:
      return TFieldType::ftCursor;
    case 2950:
      return TFieldType::ftGuid;
    default:
      return TFieldType::ftString;
  }
}

// A value as the parameter keeps it: integers decimal, booleans "1"/"0", the rest rendered.
std::string Canonical(TFieldType t, const char* text) {
  if (t == TFieldType::ftBoolean) return (text[0] == 't' || text[0] == '1') ? "1" : "0";
  return RenderText(t, text);
}

std::string QuoteIdent(const std::string& s) {
  std::string r = "\"";
  for (char c : s) {
    r += c;
    if (c == '"') r += '"';
  }
  return r + "\"";
}

struct Result {
  PGresult* r;
  explicit Result(PGresult* p) : r(p) {}
  ~Result() { PQclear(r); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
};

void FillTable(PGresult* r, TResultTable& t) {
  int nf = PQnfields(r), nt = PQntuples(r);
  t.Columns.clear();
  t.Rows.clear();
  std::vector<TFieldType> types;
  for (int f = 0; f < nf; ++f) {
    TFieldType ty = TypeOfOid(PQftype(r, f));
    types.push_back(ty);
    t.Columns.push_back({PQfname(r, f), ty});
  }
  t.Rows.reserve(nt);
  for (int i = 0; i < nt; ++i) {
    std::vector<std::optional<std::string>> row;
    row.reserve(nf);
    for (int f = 0; f < nf; ++f) {
      if (PQgetisnull(r, i, f))
        row.emplace_back(std::nullopt);
      else
        row.emplace_back(RenderText(types[f], std::string_view(PQgetvalue(r, i, f), PQgetlength(r, i, f))));
    }
    t.Rows.push_back(std::move(row));
  }
}

std::string TrimMsg(const char* m) {
  std::string s = m ? m : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

class PgBackend final : public Backend {
 public:
  PgBackend(TADOConnection& owner, PGconn* c) : Backend(owner), c_(c) {
    PQsetNoticeProcessor(
        c_, [](void*, const char*) {}, nullptr);
  }
  ~PgBackend() override { PQfinish(c_); }

  TBackend Kind() const noexcept override { return TBackend::PostgreSQL; }
  bool Alive() const noexcept override { return !lost_ && PQstatus(c_) == CONNECTION_OK; }

  // Sends Sql and collects all results. Errors: the first error result is kept in err.
  struct Batch {
    std::vector<PGresult*> results;
    PGresult* error = nullptr;  // points into results
    size_t errorIndex = 0;
    ~Batch() {
      for (PGresult* r : results) PQclear(r);
    }
  };

  using Clock = std::chrono::steady_clock;

  // Thrown by AwaitResult when the wait hook reports that the program gave the request up.
  struct CancelAsked {};

  // Waits until a result can be taken without blocking; false when the deadline passed.
  // Through the connection's wait hook unless withHook is false (after a cancel: the answer
  // to it is short and nothing else should run meanwhile).
  bool AwaitResult(Clock::time_point deadline, bool limited, bool withHook) {
    while (PQisBusy(c_)) {
      int wait = -1;
      if (limited) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        wait = static_cast<int>(std::min<long long>(left, 60000));
      }
      if (IDbWait* hook = withHook ? owner_.WaitHook() : nullptr) {
        const IDbWait::TResult r = hook->WaitReadable(PQsocket(c_), wait);
        if (r == IDbWait::TResult::Cancelled) throw CancelAsked{};
        if (r == IDbWait::TResult::Ready && !PQconsumeInput(c_)) ThrowConn();
        continue;
      }
      pollfd p{PQsocket(c_), POLLIN, 0};
      const int n = poll(&p, 1, wait);
      if (n < 0 && errno != EINTR) ThrowConn();
      if (n > 0 && !PQconsumeInput(c_)) ThrowConn();
    }
    return true;
  }

  void SendCancel() {
    if (PGcancel* cancel = PQgetCancel(c_)) {
      char err[256];
      PQcancel(cancel, err, sizeof err);
      PQfreeCancel(cancel);
    }
  }

  // With params, sql is one statement whose $n placeholders take them as text.
  void Send(const std::string& sql, Batch& b, const std::vector<std::string>* params = nullptr) {
    owner_.CountRoundTrip();
    if (params) {
      std::vector<const char*> values;
      for (const std::string& v : *params) values.push_back(v.c_str());
      if (!PQsendQueryParams(c_, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                             nullptr, nullptr, 0))
        ThrowConn();
    } else if (!PQsendQuery(c_, sql.c_str())) {
      ThrowConn();
    }
    const int limit = owner_.CommandTimeout();
    auto deadline = Clock::now() + std::chrono::seconds(limit);
    bool cancelled = false;     // by the command time-out
    bool gaveUp = false;        // by the program, through the wait hook
    for (;;) {
      bool answered = false;
      try {
        answered = AwaitResult(deadline, limit > 0 || cancelled || gaveUp, !cancelled && !gaveUp);
      } catch (const CancelAsked&) {
        SendCancel();
        gaveUp = true;
        deadline = Clock::now() + std::chrono::seconds(5);
        continue;
      }
      if (!answered) {
        if (cancelled || gaveUp) {
          // Not even the cancel got through: the link is as good as gone.
          ThrowLost(gaveUp ? std::string("no answer to the cancel of a request the program gave up")
                           : "no answer within the command time-out of " + std::to_string(limit) +
                                 " s, nor to the cancel",
                    "08006");
        }
        // The server ends the statement with "canceling statement due to user request",
        // which arrives as the batch's error; the session stays usable.
        SendCancel();
        cancelled = true;
        deadline = Clock::now() + std::chrono::seconds(5);
        continue;
      }
      PGresult* r = PQgetResult(c_);
      if (!r) break;
      b.results.push_back(r);
      ExecStatusType st = PQresultStatus(r);
      if (!b.error && (st == PGRES_FATAL_ERROR || st == PGRES_BAD_RESPONSE || st == PGRES_NONFATAL_ERROR)) {
        if (st != PGRES_NONFATAL_ERROR) {
          b.error = r;
          b.errorIndex = b.results.size() - 1;
        }
      }
    }
    if (PQstatus(c_) != CONNECTION_OK) ThrowConn(b.error);
    if (gaveUp && b.error) {
      CleanUpQuiet();
      throw EDatabaseError("[PostgreSQL] the request was cancelled: the program gave it up",
                           TErrorKind::Cancelled, "57014");
    }
    if (cancelled && b.error) {
      CleanUpQuiet();
      throw EDatabaseError("[PostgreSQL] the request ran longer than the command time-out of " +
                               std::to_string(limit) + " s and was cancelled",
                           TErrorKind::General, "57014");
    }
  }

  [[noreturn]] void ThrowConn(PGresult* r = nullptr) {
    lost_ = true;
    std::string native = r ? TrimMsg(PQresultErrorMessage(r)) : TrimMsg(PQerrorMessage(c_));
    std::string more = TrimMsg(PQerrorMessage(c_));
    if (r && !more.empty() && native.find(more) == std::string::npos) native += "; " + more;
    std::string state;
    if (r && PQresultErrorField(r, PG_DIAG_SQLSTATE)) state = PQresultErrorField(r, PG_DIAG_SQLSTATE);
    ThrowLost("the connection to the server was lost: " + native, state.empty() ? "08006" : state);
  }

  // The session is dead; the text carries the network error words the window watches for.
  [[noreturn]] void ThrowLost(const std::string& detail, const std::string& state) {
    lost_ = true;
    throw EDatabaseError(
        std::string("[PostgreSQL] ") + std::string(kNetworkErrorText) + "。请检查网络文档。(" + detail + ")",
        TErrorKind::LinkLost, state);
  }

  [[noreturn]] void ThrowResult(PGresult* r) {
    std::string state;
    if (const char* s = PQresultErrorField(r, PG_DIAG_SQLSTATE)) state = s;
    throw EDatabaseError("[PostgreSQL] " + TrimMsg(PQresultErrorMessage(r)), TErrorKind::General, state);
  }

  // Leaves no open transaction behind after a failed batch (one extra round trip).
  void CleanUp() {
    PGTransactionStatusType ts = PQtransactionStatus(c_);
    if (ts == PQTRANS_INERROR || ts == PQTRANS_INTRANS) {
      Batch b;
      Send("ROLLBACK", b);
    }
  }

  int64_t Query(const std::string& sql, TResultTable* out, bool* had) override {
    return Run(sql, nullptr, out, had);
  }

  int64_t QueryParams(const std::string& sql, const std::vector<std::string>& params, TResultTable* out,
                      bool* had) override {
    return Run(sql, &params, out, had);
  }

  int64_t Run(const std::string& sql, const std::vector<std::string>* params, TResultTable* out, bool* had) {
    if (had) *had = false;
    Batch b;
    Send(sql, b, params);
    if (b.error) {
      CleanUpQuiet();
      ThrowResult(b.error);
    }
    int64_t affected = -1;
    for (PGresult* r : b.results) {
      ExecStatusType st = PQresultStatus(r);
      if (st == PGRES_TUPLES_OK) {
        if (out && had && !*had) {
          FillTable(r, *out);
          *had = true;
        }
      } else if (st == PGRES_COMMAND_OK) {
        const char* n = PQcmdTuples(r);
        if (n && *n) affected = std::atoll(n);
      }
    }
    return affected;
  }

  void CleanUpQuiet() {
    try {
      CleanUp();
    } catch (const EDatabaseError&) {
      // the link broke during the clean-up: the caller's error stands, the session is dead
    }
  }

  bool DescribeProc(const std::string& name, std::vector<TParameter>& outParams) override {
    char* lit = PQescapeLiteral(c_, name.c_str(), name.size());
    if (!lit) ThrowConn();
    std::string sql =
        // bpchar by its own name: "character" would mean char(1) and cut every value.
        "select a.ord, a.name, coalesce(a.mode::text, 'i'), "
        "case when a.typ = 'bpchar'::regtype then 'bpchar' else format_type(a.typ, null) end, a.typ "
        "from (select p.proallargtypes, p.proargtypes, p.proargnames, p.proargmodes "
        "from pg_catalog.pg_proc p join pg_catalog.pg_namespace n on n.oid = p.pronamespace "
        "where n.nspname = 'public' and p.prokind = 'p' and p.proname = " +
        std::string(lit) +
        " order by p.oid limit 1) p "
        "left join lateral unnest(coalesce(p.proallargtypes, p.proargtypes::oid[]), p.proargnames, "
        "p.proargmodes) with ordinality as a(typ, name, mode, ord) on true order by a.ord";
    PQfreemem(lit);
    TResultTable t;
    bool had = false;
    Query(sql, &t, &had);
    outParams.clear();
    if (!had || t.Rows.empty()) return false;
    for (const auto& row : t.Rows) {
      if (!row[0]) continue;  // a procedure without parameters
      std::string mode = row[2].value_or("i");
      TParameterDirection d = TParameterDirection::pdInput;
      if (mode == "o") d = TParameterDirection::pdOutput;
      if (mode == "b") d = TParameterDirection::pdInputOutput;
      if (mode == "t") continue;
      Oid oid = static_cast<Oid>(std::strtoul(row[4].value_or("0").c_str(), nullptr, 10));
      TParameter p(row[1].value_or(""), d, TypeOfOid(oid), row[3].value_or("text"));
      p.SetNative(static_cast<int>(oid), 0, 0);
      outParams.push_back(std::move(p));
    }
    // The trailing refcursor hands the rows back; the bridge never sees it.
    if (!outParams.empty() && outParams.back().DataType() == TFieldType::ftCursor &&
        outParams.back().Direction() != TParameterDirection::pdInput)
      outParams.back().SetHidden(true);
    return true;
  }

  std::string Literal(const TParameter& p) {
    std::string cast = p.ServerType().empty() ? std::string() : "::" + p.ServerType();
    if (p.Hidden()) return "'" + std::string(kCursor) + "'::refcursor";
    if (p.Direction() == TParameterDirection::pdOutput || !p.RawValue()) return "NULL" + cast;
    const std::string& v = *p.RawValue();
    char* lit = PQescapeLiteral(c_, v.c_str(), v.size());
    if (!lit) {
      // libpq refuses text that is invalid in the client encoding: that value's fault, and
      // the session is as good as before.
      if (PQstatus(c_) == CONNECTION_OK)
        throw EDatabaseError(
            "[PostgreSQL] the value of " + p.Name() + " cannot be sent: " + TrimMsg(PQerrorMessage(c_)),
            TErrorKind::Conversion);
      ThrowConn();
    }
    std::string r = lit;
    PQfreemem(lit);
    return r + cast;
  }

  void CallProc(const std::string& name, std::vector<TParameter>& params, bool wantRows, TResultTable& out,
                bool& had) override {
    had = false;
    bool cursor = false;
    std::string call = "CALL public." + QuoteIdent(name) + "(";
    for (size_t i = 0; i < params.size(); ++i) {
      if (i) call += ", ";
      call += Literal(params[i]);
      if (params[i].Hidden()) cursor = true;
    }
    call += ")";
    bool fetch = cursor && wantRows;
    std::string sql =
        fetch ? "BEGIN; " + call + "; SAVEPOINT qv_fetch; FETCH ALL FROM " + QuoteIdent(kCursor) + "; COMMIT"
              : call;
    Batch b;
    Send(sql, b);
    // Statement indexes in the batch.
    const size_t callIdx = fetch ? 1 : 0, fetchIdx = 3;
    if (b.error && b.errorIndex <= callIdx) {
      CleanUpQuiet();
      ThrowResult(b.error);
    }
    // The CALL's row: the output parameters, in declaration order.
    std::string actualCursor = kCursor;
    if (b.results.size() > callIdx && PQresultStatus(b.results[callIdx]) == PGRES_TUPLES_OK) {
      PGresult* r = b.results[callIdx];
      int col = 0;
      for (auto& p : params) {
        if (p.Direction() != TParameterDirection::pdOutput &&
            p.Direction() != TParameterDirection::pdInputOutput)
          continue;
        if (col < PQnfields(r) && PQntuples(r) > 0) {
          if (PQgetisnull(r, 0, col)) {
            if (p.Hidden())
              actualCursor.clear();
            else
              p.SetRawValue(std::nullopt);
          } else if (p.Hidden()) {
            actualCursor = PQgetvalue(r, 0, col);
          } else {
            p.SetRawValue(Canonical(p.DataType(), PQgetvalue(r, 0, col)));
          }
        }
        ++col;
      }
    }
    if (!fetch) return;
    if (b.error) {
      const char* st = PQresultErrorField(b.error, PG_DIAG_SQLSTATE);
      if (b.errorIndex == fetchIdx && st && std::strcmp(st, "34000") == 0) {
        // The procedure opened no cursor of our name: keep its work, and fetch the one it
        // named instead when it named another.
        Batch b2;
        bool other = !actualCursor.empty() && actualCursor != kCursor;
        Send(other ? "ROLLBACK TO SAVEPOINT qv_fetch; FETCH ALL FROM " + QuoteIdent(actualCursor) + "; COMMIT"
                   : "ROLLBACK TO SAVEPOINT qv_fetch; COMMIT",
             b2);
        if (b2.error) {
          CleanUpQuiet();
          if (!other || b2.errorIndex != 1) ThrowResult(b2.error);
          return;  // no result set at all
        }
        if (other && b2.results.size() > 1 && PQresultStatus(b2.results[1]) == PGRES_TUPLES_OK) {
          FillTable(b2.results[1], out);
          had = true;
        }
        return;
      }
      CleanUpQuiet();
      ThrowResult(b.error);
    }
    if (b.results.size() > fetchIdx && PQresultStatus(b.results[fetchIdx]) == PGRES_TUPLES_OK) {
      FillTable(b.results[fetchIdx], out);
      had = true;
    }
  }

 private:
  PGconn* c_;
  bool lost_ = false;
};

}  // namespace

std::unique_ptr<Backend> OpenPostgres(TADOConnection& Owner, const std::string& ConnInfo) {
  const char* keys[] = {"dbname", "client_encoding", "options", "fallback_application_name", nullptr};
  const char* vals[] = {ConnInfo.c_str(), "UTF8",
                        "-c DateStyle=ISO,YMD -c IntervalStyle=postgres -c extra_float_digits=1", "quorvex",
                        nullptr};
  PGconn* c = PQconnectdbParams(keys, vals, 1);
  if (!c) throw EDatabaseError("[PostgreSQL] out of memory", TErrorKind::Connect);
  if (PQstatus(c) != CONNECTION_OK) {
    std::string m = TrimMsg(PQerrorMessage(c));
    PQfinish(c);
    throw EDatabaseError("[PostgreSQL] cannot connect: " + m, TErrorKind::Connect, "08001");
  }
  return std::make_unique<PgBackend>(Owner, c);
}

}  // namespace qv::db::detail

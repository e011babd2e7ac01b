#pragma once
// The database access layer of the service and the installer.
//
// Three ADO-shaped components (connection, query, stored-procedure dataset) with two
// backends behind them, chosen from the connection string:
//   - PostgreSQL through libpq ("postgresql://...", "Provider=PostgreSQL;...", or a libpq
//     keyword string such as "host=/tmp/x dbname=demo user=postgres");
//   - SQL Server through unixODBC + FreeTDS ("Provider=SQLOLEDB...", translated to ODBC
//     keywords, or any string containing "Driver=", passed on unchanged).
// Every failure is an EDatabaseError. Field values are text, rendered as ADO's as-string
// conversion (see FormatFloat / docs/database.md). Everything runs on one thread per
// connection; the components are not thread-safe.
//
// Library: qv_db (src/db/CMakeLists.txt). Documentation: docs/database.md.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/Number.h"
#include <string_view>
#include <vector>

namespace qv::db {

// ---------------------------------------------------------------------------------------
// Errors

// What went wrong, for callers that need more than the message.
enum class TErrorKind {
  General,       // any other server or client error (syntax, constraint, ...)
  Connect,       // the connection could not be opened (refused, time-out, login failed)
  LinkLost,      // an open connection broke during a request; Connected() is false after it
  NotConnected,  // an operation needed an open connection and there was none
  NotFound,      // a field or parameter name that does not exist
  Conversion,    // a value that cannot be converted to the declared type
  Unsupported,   // a connection-string feature this platform cannot serve (e.g. SSPI)
  State,         // an operation in the wrong state (no current row, no SQL text, ...)
  Cancelled,     // the program gave the request up (CancelRequest / the wait hook); the link stays
};

// The text that ADO/SQLOLEDB put into a lost-link error on Chinese Windows; every
// TErrorKind::LinkLost message contains it, so that the global handler's rule
// ("一般性网络错误" in the message clears the linked flag) works unchanged.
inline constexpr std::string_view kNetworkErrorText = "一般性网络错误";

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& Message, TErrorKind Kind = TErrorKind::General,
                          std::string SqlState = {});
  TErrorKind Kind() const noexcept { return kind_; }
  bool LinkLost() const noexcept { return kind_ == TErrorKind::LinkLost; }
  // SQLSTATE of the server error when one was reported ("42883", "08S01", ...), else "".
  const std::string& SqlState() const noexcept { return sqlState_; }

 private:
  TErrorKind kind_;
  std::string sqlState_;
};

// ---------------------------------------------------------------------------------------
// Connection strings (pure functions, unit-tested)

enum class TBackend { None, PostgreSQL, ODBC };

struct TConnTarget {
  TBackend Backend = TBackend::None;
  std::string Native;  // libpq conninfo (keyword form or URI) or ODBC connection string
};

// Parses an ADO/OLE DB, ODBC or libpq string and says where it goes (docs/database.md):
//   "postgresql://..." / "postgres://..."   -> PostgreSQL, Native unchanged
//   "Provider=PostgreSQL;Key=Value;..."      -> PostgreSQL, keys mapped to libpq keywords
//   a string with "Driver=" (any case)       -> ODBC, Native unchanged
//   "Provider=SQLOLEDB[.1];..."              -> ODBC, translated to FreeTDS keywords
//   "host=... dbname=..." (libpq keywords, no ';') -> PostgreSQL, Native unchanged
// Throws EDatabaseError: Unsupported for Integrated Security=SSPI (no Windows login on
// Linux) and for an unknown provider; General for an empty or unparsable string.
// ConnectTimeoutSeconds > 0 adds connect_timeout (libpq) / is used as the login time-out
// (ODBC, not put into the string).
TConnTarget ParseConnectionString(const std::string& ConnStr, int ConnectTimeoutSeconds = 0);

// The OLE DB ("Provider=SQLOLEDB...") to FreeTDS ODBC translation on its own:
// Data Source=host[,port] or host\instance -> Server/Port or Server=host\instance (the
// ODBC backend looks the instance's port up at connect), Initial Catalog -> Database, User
// ID/Password -> UID/PWD, Encrypt/Use Encryption for Data=True -> Encryption=require (False:
// FreeTDS's default), Current Language -> Language, TDS_Version=7.4, ClientCharset=UTF-8;
// Driver=FreeTDS. Throws as ParseConnectionString.
std::string TranslateOleDbToOdbc(const std::string& OleDbConnStr);

// Receives the server errors that the layer reports without failing the call: an error a
// procedure raises after its first result set, whose rows the dataset keeps (as the OLE DB
// provider delivered them). Process-wide; an empty function (the default) drops them.
void SetServerMessageLog(std::function<void(const std::string&)> Log);

// The FreeTDS ODBC driver as unixODBC can load it: "FreeTDS" when odbcinst.ini registers
// a driver of that name, else the path of libtdsodbc.so when one is installed, else "".
// A "Driver=FreeTDS" string is connected through the path when the name is not registered.
std::string FindFreeTdsDriver();

// Splits "k1=v1;k2=v2" (ADO/ODBC syntax: values may be quoted with ' or " or {braces};
// keys compared without case) into pairs, in order. Exposed for tests.
std::vector<std::pair<std::string, std::string>> SplitConnectionString(const std::string& s);

// ---------------------------------------------------------------------------------------
// Values

enum class TFieldType {
  ftUnknown,
  ftString,     // varchar / text / nvarchar
  ftFixedChar,  // char(n) / nchar(n): blanks kept
  ftSmallint,
  ftInteger,
  ftLargeint,
  ftBoolean,   // rendered "True" / "False"
  ftFloat,     // float4 / float8 / real / float
  ftBCD,       // numeric / decimal
  ftCurrency,  // money
  ftDate,      // rendered "yyyy-MM-dd"
  ftTime,      // rendered "HH:mm:ss"
  ftDateTime,  // rendered "yyyy-MM-dd HH:mm:ss" ("yyyy-MM-dd" when the time is 00:00:00)
  ftBytes,     // rendered as lower-case hex
  ftGuid,
  ftCursor,  // PostgreSQL refcursor (the hidden result parameter)
};

// ADO's as-string rendering of a non-integer number (base/Number.h).
using qv::FormatFloat;
// The same for a decimal text (numeric / money as the server sent it, e.g. "12.5000",
// "-0.29", "$1,234.50"); exact decimal rounding to 15 significant digits.
std::string FormatDecimalText(std::string_view Text);

// ---------------------------------------------------------------------------------------
// Waiting for the server

// How a request waits for its answer. Without one (tools, the installer) a request blocks
// its thread until the server answers; the service hands one in that keeps its event loop
// going meanwhile, so that the terminal gets its keep-alive and the window its clicks.
class IDbWait {
 public:
  enum class TResult { Ready, TimedOut, Cancelled };
  virtual ~IDbWait() = default;
  // Waits until Fd can be read or TimeoutMs have passed (-1: no limit), doing the program's
  // other work meanwhile. Cancelled: the program wants the request under way given up; the
  // backend then cancels it on the server and fails it with TErrorKind::Cancelled.
  virtual TResult WaitReadable(int Fd, int TimeoutMs) = 0;
};

// ---------------------------------------------------------------------------------------
// Connection

namespace detail {
class Backend;  // libpq or ODBC session (private)
}

class TCustomADODataSet;

class TADOConnection {
 public:
  TADOConnection();
  explicit TADOConnection(std::string ConnStr);
  ~TADOConnection();
  TADOConnection(const TADOConnection&) = delete;
  TADOConnection& operator=(const TADOConnection&) = delete;

  const std::string& ConnectionString() const noexcept { return connStr_; }
  // Setting the string of an open connection closes it first (as ADO refuses to change
  // an open connection's string, this is the friendlier choice).
  void SetConnectionString(std::string ConnStr);
  // Seconds; ADO's default is 15. 0 = wait as long as the backend does.
  int ConnectionTimeout() const noexcept { return timeout_; }
  void SetConnectionTimeout(int Seconds) noexcept { timeout_ = Seconds; }
  // Seconds a request may run before it is cancelled and fails (ADO's CommandTimeout, 30 by
  // default), so a lock held elsewhere or a dead link cannot hang the caller; 0 = no limit.
  int CommandTimeout() const noexcept { return commandTimeout_; }
  void SetCommandTimeout(int Seconds) noexcept { commandTimeout_ = Seconds; }
  // No login prompt exists on this platform; accepted so that callers can say "no prompt".
  void SetLoginPrompt(bool) noexcept {}

  // Opens with ConnectionString(); no-op when already connected. Throws EDatabaseError
  // (Connect / Unsupported) and leaves the connection closed on failure.
  void Open();
  void Open(const std::string& ConnStr);  // SetConnectionString + Open
  // Closes the session and, as ADO does, every dataset on this connection (a failed link
  // check therefore leaves the procedure list inactive until the next connect). Never
  // throws. A link lost under a request closes nothing: only the session is marked dead.
  void Close() noexcept;
  // True while open. False after Close, after a failed Open and after a request that
  // found the link broken (the request threw TErrorKind::LinkLost).
  bool Connected() const noexcept;

  // The wait of every request on this connection; nullptr (the default): requests block.
  // Not owned; must outlive the connection's requests.
  void SetWaitHook(IDbWait* Hook) noexcept { waitHook_ = Hook; }
  IDbWait* WaitHook() const noexcept { return waitHook_; }
  // True while a request runs on this connection (only ever seen from inside the wait
  // hook). A second request meanwhile throws State; Close meanwhile closes once the
  // request has ended.
  bool Busy() const noexcept { return busy_ > 0; }

  // Backend of the open session, else the backend the string names (None if unparsable).
  TBackend Backend() const noexcept;

  // Runs a statement that returns no rows (DDL, DML, "drop database", "exec ...").
  // Returns the affected row count when the server reports one, else -1.
  int64_t Execute(const std::string& Sql);

  // Server round trips made by this connection since it was created (one per libpq
  // query / ODBC execute or catalogue call, connect excluded). For benchmarks and tests.
  uint64_t RoundTrips() const noexcept { return roundTrips_; }
  void ResetRoundTrips() noexcept { roundTrips_ = 0; }
  // Process-wide total over all connections.
  static uint64_t TotalRoundTrips() noexcept;

  // Internal: the session (nullptr when closed). Used by the datasets.
  detail::Backend* Session() noexcept { return session_.get(); }
  void CountRoundTrip() noexcept;
  // Internal: called by a backend that detected a broken link; drops the session.
  void MarkLinkLost() noexcept;
  // Internal: brackets one request (Busy, the deferred Close).
  void BeginRequest();
  void EndRequest() noexcept;

 private:
  std::string connStr_;
  int timeout_ = 15;
  int commandTimeout_ = 30;
  friend class TCustomADODataSet;
  std::vector<TCustomADODataSet*> datasets_;  // registered by SetConnection
  std::unique_ptr<detail::Backend> session_;
  uint64_t roundTrips_ = 0;
  IDbWait* waitHook_ = nullptr;
  int busy_ = 0;
  bool closePending_ = false;
};

// The backend's equivalents of the fixed T-SQL texts the bridge sends (docs/database.md).
// By the connection's Backend(); ODBC (or None) gives the T-SQL text itself.
//   ProcListSql: "select name from sysobjects where xtype='P' and category='0' order by name"
//     PostgreSQL: the names of the procedures (prokind 'p') of schema public, one column
//     "name", ordered by name.
//   LinkCheckSql: "Select @@CONNECTIONS" / PostgreSQL: a one-row select.
std::string ProcListSql(TBackend Backend);
std::string LinkCheckSql(TBackend Backend);
std::string ProcListSql(const TADOConnection& Conn);
std::string LinkCheckSql(const TADOConnection& Conn);

class TParameter;
// A statement that names the columns of the first result set a call of Proc returns, without
// running the procedure: one row per column, its name in column "name", and rows whose
// "is_hidden" is 1 (columns the server adds for its own use) not part of what a caller reads.
// Params is the procedure's declaration as the parameter refresh read it (the return value
// and hidden entries are skipped); every parameter is passed by name, declared with its type.
//   ODBC: exec sp_describe_first_result_set N'EXEC [Proc] @a = @a, @r = @r OUTPUT',
//         N'@a int, @r varchar(100) OUTPUT' (SQL Server 2012 and later; the server fails it
//         when the result cannot be known without running, e.g. a temp table or dynamic SQL).
//   PostgreSQL: "" (the procedures hand their rows over through a cursor, which the
//         catalogue cannot describe).
std::string ResultColumnsSql(TBackend Backend, const std::string& Proc,
                             const std::vector<TParameter>& Params);

// ---------------------------------------------------------------------------------------
// Datasets

class TCustomADODataSet;

// A column of a dataset; reads the dataset's current row. A reference obtained from
// FieldByName/Fields stays valid until the dataset is closed or re-opened.
class TField {
 public:
  const std::string& FieldName() const noexcept { return name_; }
  TFieldType DataType() const noexcept { return type_; }
  int Index() const noexcept { return index_; }
  // Current row's value as text (ADO's AsString rendering; NULL -> ""). Throws State
  // when the dataset has no current row (closed, empty or past the end).
  std::string AsString() const;
  bool IsNull() const;
  // AsString converted; throws Conversion for a non-number, NULL gives 0.
  int32_t AsInteger() const;
  double AsFloat() const;

  // Internal.
  TField(const TCustomADODataSet* Owner, std::string Name, TFieldType Type, int Index)
      : owner_(Owner), name_(std::move(Name)), type_(Type), index_(Index) {}

 private:
  const TCustomADODataSet* owner_;
  std::string name_;
  TFieldType type_;
  int index_;
};

// Client-side, fully fetched result (shared by both backends).
struct TResultTable {
  struct Column {
    std::string Name;
    TFieldType Type = TFieldType::ftUnknown;
  };
  std::vector<Column> Columns;
  // Rendered text per cell; std::nullopt = NULL.
  std::vector<std::vector<std::optional<std::string>>> Rows;
};

enum class TLockType { ltUnspecified, ltReadOnly, ltPessimistic, ltOptimistic, ltBatchOptimistic };

class TCustomADODataSet {
 public:
  TCustomADODataSet();
  virtual ~TCustomADODataSet();
  TCustomADODataSet(const TCustomADODataSet&) = delete;
  TCustomADODataSet& operator=(const TCustomADODataSet&) = delete;

  TADOConnection* Connection() const noexcept { return conn_; }
  void SetConnection(TADOConnection* Conn) noexcept;

  // Component name and Tag (an integer every component carries).
  const std::string& Name() const noexcept { return name_; }
  void SetName(std::string Name) { name_ = std::move(Name); }
  int Tag() const noexcept { return tag_; }
  void SetTag(int Tag) noexcept { tag_ = Tag; }
  // Accepted and ignored: every result is a read-only client-side copy.
  TLockType LockType() const noexcept { return lockType_; }
  void SetLockType(TLockType t) noexcept { lockType_ = t; }

  // True after a successful Open that produced a result set, until Close.
  bool Active() const noexcept { return active_; }
  // Drops the result. Never throws.
  void Close() noexcept;

  // Cursor over the fetched rows (no server traffic).
  void First() noexcept;
  void Next() noexcept;  // past the last row sets Eof
  void Prior() noexcept;
  void Last() noexcept;
  bool Eof() const noexcept;  // true when closed, empty or past the last row
  bool Bof() const noexcept;
  int RecordCount() const noexcept;  // rows of the result; 0 when closed (ADO: -1 when closed; we give 0)
  int RecNo() const noexcept;        // 1-based current row, 0 when none

  int FieldCount() const noexcept;
  TField& Fields(int Index);  // throws NotFound for an index out of range
  // Column by name, compared without regard to ASCII case, as the record formatting expects. Throws NotFound
  // ("Field 'x' not found") when the result has no such column, State when closed.
  TField& FieldByName(std::string_view Name);
  TField* FindField(std::string_view Name) noexcept;  // nullptr when absent

  // Moves to the first row (from the top) whose field Field renders exactly Value
  // (whole-value, case-sensitive, byte-wise comparison of the AsString text; NULL
  // matches only ""). True and positioned on it when found; false and the position
  // unchanged otherwise. Throws NotFound for an unknown field, State when closed.
  bool Locate(std::string_view Field, std::string_view Value);

  // Internal (TField): the current cell.
  const std::optional<std::string>& CurrentCell(int Index) const;

 protected:
  TADOConnection& RequireConnection();  // throws NotConnected
  void SetResult(TResultTable Table);   // becomes Active, positioned on the first row
  void ResetResult() noexcept;

 private:
  friend class TADOConnection;  // clears conn_ when it goes first
  TADOConnection* conn_ = nullptr;
  std::string name_;
  int tag_ = 0;
  TLockType lockType_ = TLockType::ltUnspecified;
  bool active_ = false;
  TResultTable table_;
  std::vector<std::unique_ptr<TField>> fields_;
  int pos_ = 0;  // 0-based row index; == row count means Eof
  bool bof_ = true;
};

// A statement (select) whose whole result is fetched at Open.
class TADOQuery : public TCustomADODataSet {
 public:
  TADOQuery() = default;
  explicit TADOQuery(TADOConnection* Conn) { SetConnection(Conn); }

  const std::string& SQL() const noexcept { return sql_; }
  void SetSQL(std::string Sql) { sql_ = std::move(Sql); }
  // Text values for the placeholders of SQL() ("$1", "$2", ... on PostgreSQL, "?" on ODBC),
  // sent apart from the statement so that no value is ever read as SQL. Empty (the
  // default): the statement is sent as it stands and may hold several statements.
  const std::vector<std::string>& Params() const noexcept { return params_; }
  void SetParams(std::vector<std::string> Params) { params_ = std::move(Params); }

  // Runs SQL() (one round trip) and fetches every row. Throws EDatabaseError; a broken
  // link throws LinkLost and leaves Connection()->Connected() false. A statement that
  // returns no rows leaves the query not Active (no exception).
  void Open();
  // Runs SQL() as a statement without a result; returns the affected rows or -1.
  int64_t ExecSQL();

 private:
  std::string sql_;
  std::vector<std::string> params_;
};

enum class TParameterDirection { pdUnknown, pdInput, pdOutput, pdInputOutput, pdReturnValue };

// One parameter of a stored procedure. Values are held as text (or NULL) already converted
// to the declared type's canonical form; the backends send them in that form.
class TParameter {
 public:
  TParameter() = default;
  TParameter(std::string Name, TParameterDirection Dir, TFieldType Type, std::string ServerType, int Size = 0)
      : name_(std::move(Name)), dir_(Dir), type_(Type), serverType_(std::move(ServerType)), size_(Size) {}

  const std::string& Name() const noexcept { return name_; }
  TParameterDirection Direction() const noexcept { return dir_; }
  void SetDirection(TParameterDirection d) noexcept { dir_ = d; }
  TFieldType DataType() const noexcept { return type_; }
  // The server's own type name ("integer", "character varying", "int", "varchar", ...).
  const std::string& ServerType() const noexcept { return serverType_; }
  int Size() const noexcept { return size_; }  // declared length where known, else 0

  // Assign a value. Converted to the declared type at once: a text that does not fit
  // (e.g. "abc" or "" for an integer, "1x" for a numeric) throws EDatabaseError
  // (Conversion) and leaves the previous value. Integer targets accept a decimal text
  // and round it to the nearest integer (half to even, as OLE's VariantChangeType);
  // boolean targets accept 1/0/true/false/yes/no (any case) and numbers (non-zero =
  // true). Text targets take the text unchanged.
  void SetString(std::string_view Text);
  void SetInteger(int32_t Value);
  void SetFloat(double Value);
  void SetNull() noexcept;

  bool IsNull() const noexcept { return !value_.has_value(); }
  // NULL-aware reads: NULL gives "" / 0. AsInteger of a non-integer text throws Conversion.
  std::string AsString() const;
  int32_t AsInteger() const;

  // Internal: raw canonical value as sent / received.
  const std::optional<std::string>& RawValue() const noexcept { return value_; }
  void SetRawValue(std::optional<std::string> v) { value_ = std::move(v); }
  bool Hidden() const noexcept { return hidden_; }
  void SetHidden(bool h) noexcept { hidden_ = h; }
  // Internal: the backend's own type code (ODBC SQL type), length/precision and scale.
  int NativeType() const noexcept { return nativeType_; }
  int Scale() const noexcept { return scale_; }
  void SetNative(int Type, int Size, int Scale) noexcept {
    nativeType_ = Type;
    size_ = Size;
    scale_ = Scale;
  }

 private:
  std::string name_;
  TParameterDirection dir_ = TParameterDirection::pdInput;
  TFieldType type_ = TFieldType::ftUnknown;
  std::string serverType_;
  int size_ = 0;
  std::optional<std::string> value_;
  bool hidden_ = false;  // the PostgreSQL result refcursor: never listed
  int nativeType_ = 0;
  int scale_ = 0;
};

class TADOStoredProc;

class TParameters {
 public:
  explicit TParameters(TADOStoredProc* Owner) : owner_(Owner) {}

  // Re-reads the declaration of the owner's ProcedureName from the server (one round
  // trip). True when the procedure exists (its parameters replace the list; values are
  // NULL); false when the server has no such procedure (list emptied). Throws
  // EDatabaseError for a missing connection or a server/link error.
  bool Refresh();

  int Count() const noexcept;    // the visible parameters (the hidden refcursor excluded)
  TParameter& Items(int Index);  // throws NotFound when out of range
  TParameter& operator[](int Index) { return Items(Index); }
  // By name, "@" included, compared without regard to ASCII case, as the bridge has
  // always looked parameters up. ParamByName throws EDatabaseError (NotFound,
  // "Parameter '@x' not found") for a name the procedure does not declare.
  TParameter& ParamByName(std::string_view Name);
  TParameter* FindParam(std::string_view Name) noexcept;
  void Clear() noexcept { items_.clear(); }

  // Internal: the declared list in server order, hidden entries included.
  std::vector<TParameter>& All() noexcept { return items_; }
  const std::vector<TParameter>& All() const noexcept { return items_; }
  int HiddenIndex() const noexcept;  // index of the hidden refcursor in All(), or -1

 private:
  TADOStoredProc* owner_;
  std::vector<TParameter> items_;  // visible and hidden, in declaration order
};

class TADOStoredProc : public TCustomADODataSet {
 public:
  TADOStoredProc();
  explicit TADOStoredProc(TADOConnection* Conn);
  ~TADOStoredProc() override;

  // The procedure's name, exact (case-sensitive on PostgreSQL). CommandText is the same
  // property. Setting a different name clears the parameter list (it must be refreshed
  // again); setting the same name keeps it.
  const std::string& ProcedureName() const noexcept { return proc_; }
  void SetProcedureName(std::string Name);
  const std::string& CommandText() const noexcept { return proc_; }
  void SetCommandText(std::string Name) { SetProcedureName(std::move(Name)); }

  TParameters& Parameters() noexcept { return params_; }
  TParameter& ParamByName(std::string_view Name) { return params_.ParamByName(Name); }

  // Runs the procedure with the current parameter values (one round trip), fetches every
  // row of its (first) result set, and reads the output parameters back. Active()
  // afterwards when the procedure produced a result set; a procedure without one leaves
  // the dataset not Active (no exception) with the outputs set.
  // Throws EDatabaseError (LinkLost leaves the connection closed).
  void Open();
  // Runs the procedure, discards any rows, reads the outputs back. One round trip.
  void ExecProc();

 private:
  friend class TParameters;
  void Run(bool WantRows);
  std::string proc_;
  TParameters params_;
  bool refreshed_ = false;  // params_ hold the declaration of proc_
};

}  // namespace qv::db

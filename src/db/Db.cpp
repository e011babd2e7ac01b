// The backend-independent part of the access layer: connection, datasets, parameters.
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "db/Internal.h"

namespace qv::db {

using detail::EqualsNoCase;

EDatabaseError::EDatabaseError(const std::string& Message, TErrorKind Kind, std::string SqlState)
    : std::runtime_error(Message), kind_(Kind), sqlState_(std::move(SqlState)) {}

// ---------------------------------------------------------------------------------------
// Connection

namespace {
std::atomic<uint64_t> g_totalRoundTrips{0};

template <class F>
auto Guarded(TADOConnection& c, F&& f) -> decltype(f()) {
  c.BeginRequest();
  struct End {
    TADOConnection& c;
    ~End() { c.EndRequest(); }
  } end{c};
  try {
    return f();
  } catch (const EDatabaseError& e) {
    if (e.LinkLost()) c.MarkLinkLost();
    throw;
  }
}

detail::Backend& LiveSession(TADOConnection& c) {
  detail::Backend* s = c.Session();
  if (!s || !c.Connected()) throw EDatabaseError("the connection is closed", TErrorKind::NotConnected);
  return *s;
}
}  // namespace

TADOConnection::TADOConnection() = default;
TADOConnection::TADOConnection(std::string ConnStr) : connStr_(std::move(ConnStr)) {}
TADOConnection::~TADOConnection() {
  Close();
  for (TCustomADODataSet* ds : datasets_) ds->conn_ = nullptr;
}

void TADOConnection::SetConnectionString(std::string ConnStr) {
  if (session_) Close();
  connStr_ = std::move(ConnStr);
}

void TADOConnection::Open() {
  if (Connected()) return;
  session_.reset();
  TConnTarget t = ParseConnectionString(connStr_, timeout_);
  if (t.Backend == TBackend::PostgreSQL)
    session_ = detail::OpenPostgres(*this, t.Native);
  else
    session_ = detail::OpenOdbc(*this, t.Native, timeout_);
}

void TADOConnection::Open(const std::string& ConnStr) {
  SetConnectionString(ConnStr);
  Open();
}

void TADOConnection::Close() noexcept {
  if (busy_ > 0) {
    // Called from an event handled during the request's wait: the session is still in use.
    closePending_ = true;
    return;
  }
  session_.reset();
  for (TCustomADODataSet* ds : datasets_) ds->Close();
}

bool TADOConnection::Connected() const noexcept {
  return session_ && session_->Alive();
}

TBackend TADOConnection::Backend() const noexcept {
  if (session_) return session_->Kind();
  try {
    return ParseConnectionString(connStr_).Backend;
  } catch (...) {
    return TBackend::None;
  }
}

int64_t TADOConnection::Execute(const std::string& Sql) {
  detail::Backend& s = LiveSession(*this);
  return Guarded(*this, [&] { return s.Query(Sql, nullptr, nullptr); });
}

uint64_t TADOConnection::TotalRoundTrips() noexcept {
  return g_totalRoundTrips.load();
}

void TADOConnection::CountRoundTrip() noexcept {
  ++roundTrips_;
  ++g_totalRoundTrips;
}

void TADOConnection::MarkLinkLost() noexcept {
  session_.reset();
}

void TADOConnection::BeginRequest() {
  if (busy_ > 0)
    throw EDatabaseError("another request is under way on this connection", TErrorKind::State);
  ++busy_;
}

void TADOConnection::EndRequest() noexcept {
  if (--busy_ > 0 || !closePending_) return;
  closePending_ = false;
  Close();
}

std::string ProcListSql(TBackend Backend) {
  if (Backend == TBackend::PostgreSQL)
    return "select p.proname::text as name from pg_catalog.pg_proc p join pg_catalog.pg_namespace n "
           "on n.oid = p.pronamespace where n.nspname = 'public' and p.prokind = 'p' order by 1";
  return "select name from sysobjects where xtype='P' and category='0' order by name";
}

std::string LinkCheckSql(TBackend Backend) {
  if (Backend == TBackend::PostgreSQL) return "select 1 as connections";
  return "Select @@CONNECTIONS";
}

namespace {

// [name] for one part of a T-SQL object name; a part already in brackets stays as it is.
std::string BracketName(const std::string& Name) {
  std::string out;
  size_t start = 0;
  for (;;) {
    const size_t dot = Name.find('.', start);
    const std::string part = Name.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (!out.empty()) out += '.';
    if (part.size() >= 2 && part.front() == '[' && part.back() == ']') {
      out += part;
    } else {
      out += '[';
      for (char c : part) out += c == ']' ? std::string("]]") : std::string(1, c);
      out += ']';
    }
    if (dot == std::string::npos) return out;
    start = dot + 1;
  }
}

// The type of a parameter as a declaration writes it, from what the catalogue reported: the
// length of a text or binary type ((max) for 0, as the catalogue gives the unlimited ones),
// precision and scale of a decimal; every other type by its name alone.
std::string DeclaredType(const TParameter& p) {
  const std::string name = detail::Lower(p.ServerType());
  if (name == "varchar" || name == "nvarchar" || name == "varbinary")
    return name + (p.Size() > 0 ? "(" + std::to_string(p.Size()) + ")" : "(max)");
  if (name == "char" || name == "nchar" || name == "binary")
    return p.Size() > 0 ? name + "(" + std::to_string(p.Size()) + ")" : name;
  if ((name == "decimal" || name == "numeric") && p.Size() > 0)
    return name + "(" + std::to_string(p.Size()) + "," + std::to_string(p.Scale()) + ")";
  return p.ServerType();
}

// N'text' with its quotes doubled.
std::string NText(const std::string& Text) {
  std::string out = "N'";
  for (char c : Text) out += c == '\'' ? std::string("''") : std::string(1, c);
  return out + "'";
}

}  // namespace

std::string ResultColumnsSql(TBackend Backend, const std::string& Proc,
                             const std::vector<TParameter>& Params) {
  if (Backend == TBackend::PostgreSQL) return {};
  std::string call = "EXEC " + BracketName(Proc), decl;
  bool first = true;
  for (const TParameter& p : Params) {
    if (p.Hidden() || p.Direction() == TParameterDirection::pdReturnValue) continue;
    const bool out =
        p.Direction() == TParameterDirection::pdOutput || p.Direction() == TParameterDirection::pdInputOutput;
    call += (first ? " " : ", ") + p.Name() + " = " + p.Name() + (out ? " OUTPUT" : "");
    decl += (first ? "" : ", ") + p.Name() + " " + DeclaredType(p) + (out ? " OUTPUT" : "");
    first = false;
  }
  return "exec sp_describe_first_result_set " + NText(call) + ", " + (decl.empty() ? "NULL" : NText(decl));
}

std::string ProcListSql(const TADOConnection& Conn) {
  return ProcListSql(Conn.Backend());
}
std::string LinkCheckSql(const TADOConnection& Conn) {
  return LinkCheckSql(Conn.Backend());
}

// ---------------------------------------------------------------------------------------
// Fields and datasets

namespace {
int32_t TextToInt32(const std::string& t, const std::string& what) {
  if (t.empty()) return 0;
  if (t == "True") return -1;
  if (t == "False") return 0;
  try {
    return static_cast<int32_t>(std::stol(detail::ConvertForParam(TFieldType::ftInteger, t, what)));
  } catch (const EDatabaseError&) {
    throw EDatabaseError("\"" + t + "\" is not a valid integer value for " + what, TErrorKind::Conversion);
  }
}
}  // namespace

std::string TField::AsString() const {
  const auto& c = owner_->CurrentCell(index_);
  return c ? *c : std::string();
}

bool TField::IsNull() const {
  return !owner_->CurrentCell(index_).has_value();
}

int32_t TField::AsInteger() const {
  return TextToInt32(detail::Trim(AsString()), "field " + name_);
}

double TField::AsFloat() const {
  std::string t = detail::Trim(AsString());
  if (t.empty()) return 0;
  char* end = nullptr;
  double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size())
    throw EDatabaseError("\"" + t + "\" is not a valid floating point value for field " + name_,
                         TErrorKind::Conversion);
  return v;
}

TCustomADODataSet::TCustomADODataSet() = default;
TCustomADODataSet::~TCustomADODataSet() {
  SetConnection(nullptr);
}

void TCustomADODataSet::SetConnection(TADOConnection* Conn) noexcept {
  if (Conn == conn_) return;
  if (conn_) std::erase(conn_->datasets_, this);
  conn_ = Conn;
  if (conn_) conn_->datasets_.push_back(this);
}

void TCustomADODataSet::Close() noexcept {
  ResetResult();
}

void TCustomADODataSet::ResetResult() noexcept {
  active_ = false;
  table_ = {};
  fields_.clear();
  pos_ = 0;
  bof_ = true;
}

void TCustomADODataSet::SetResult(TResultTable Table) {
  ResetResult();
  table_ = std::move(Table);
  for (size_t i = 0; i < table_.Columns.size(); ++i)
    fields_.push_back(
        std::make_unique<TField>(this, table_.Columns[i].Name, table_.Columns[i].Type, static_cast<int>(i)));
  active_ = true;
  pos_ = 0;
  bof_ = true;
}

TADOConnection& TCustomADODataSet::RequireConnection() {
  if (!conn_)
    throw EDatabaseError("no connection assigned to " + (name_.empty() ? std::string("dataset") : name_),
                         TErrorKind::NotConnected);
  if (!conn_->Connected()) throw EDatabaseError("the connection is closed", TErrorKind::NotConnected);
  return *conn_;
}

void TCustomADODataSet::First() noexcept {
  pos_ = 0;
  bof_ = true;
}
void TCustomADODataSet::Next() noexcept {
  if (pos_ < static_cast<int>(table_.Rows.size())) ++pos_;
  bof_ = false;
}
void TCustomADODataSet::Prior() noexcept {
  if (pos_ > 0) {
    --pos_;
    bof_ = false;
  } else {
    bof_ = true;
  }
}
void TCustomADODataSet::Last() noexcept {
  pos_ = table_.Rows.empty() ? 0 : static_cast<int>(table_.Rows.size()) - 1;
  bof_ = table_.Rows.empty();
}
bool TCustomADODataSet::Eof() const noexcept {
  return !active_ || pos_ >= static_cast<int>(table_.Rows.size());
}
bool TCustomADODataSet::Bof() const noexcept {
  return !active_ || table_.Rows.empty() || (bof_ && pos_ == 0);
}
int TCustomADODataSet::RecordCount() const noexcept {
  return active_ ? static_cast<int>(table_.Rows.size()) : 0;
}
int TCustomADODataSet::RecNo() const noexcept {
  return Eof() ? 0 : pos_ + 1;
}
int TCustomADODataSet::FieldCount() const noexcept {
  return static_cast<int>(fields_.size());
}

TField& TCustomADODataSet::Fields(int Index) {
  if (Index < 0 || Index >= FieldCount())
    throw EDatabaseError("field index " + std::to_string(Index) + " out of range", TErrorKind::NotFound);
  return *fields_[Index];
}

TField* TCustomADODataSet::FindField(std::string_view Name) noexcept {
  for (auto& f : fields_)
    if (EqualsNoCase(f->FieldName(), Name)) return f.get();
  return nullptr;
}

TField& TCustomADODataSet::FieldByName(std::string_view Name) {
  if (!active_)
    throw EDatabaseError((name_.empty() ? std::string("dataset") : name_) +
                             ": cannot perform this operation on a closed dataset",
                         TErrorKind::State);
  TField* f = FindField(Name);
  if (!f)
    throw EDatabaseError(
        (name_.empty() ? std::string() : name_ + ": ") + "Field '" + std::string(Name) + "' not found",
        TErrorKind::NotFound);
  return *f;
}

bool TCustomADODataSet::Locate(std::string_view Field, std::string_view Value) {
  int idx = FieldByName(Field).Index();
  for (size_t r = 0; r < table_.Rows.size(); ++r) {
    const auto& c = table_.Rows[r][idx];
    std::string_view v = c ? std::string_view(*c) : std::string_view();
    if (v == Value) {
      pos_ = static_cast<int>(r);
      bof_ = r == 0;
      return true;
    }
  }
  return false;
}

const std::optional<std::string>& TCustomADODataSet::CurrentCell(int Index) const {
  if (!active_)
    throw EDatabaseError((name_.empty() ? std::string("dataset") : name_) +
                             ": cannot perform this operation on a closed dataset",
                         TErrorKind::State);
  if (Eof())
    throw EDatabaseError("Either BOF or EOF is True, or the current record has been deleted",
                         TErrorKind::State);
  if (Index < 0 || Index >= static_cast<int>(table_.Columns.size()))
    throw EDatabaseError("field index out of range", TErrorKind::NotFound);
  return table_.Rows[pos_][Index];
}

// ---------------------------------------------------------------------------------------
// Query

void TADOQuery::Open() {
  TADOConnection& c = RequireConnection();
  if (sql_.empty()) throw EDatabaseError("CommandText not set", TErrorKind::State);
  Close();
  TResultTable t;
  bool had = false;
  detail::Backend& s = LiveSession(c);
  Guarded(c,
          [&] { return params_.empty() ? s.Query(sql_, &t, &had) : s.QueryParams(sql_, params_, &t, &had); });
  if (had && c.Session()) SetResult(std::move(t));  // no session: closed once the request ended
}

int64_t TADOQuery::ExecSQL() {
  TADOConnection& c = RequireConnection();
  if (sql_.empty()) throw EDatabaseError("CommandText not set", TErrorKind::State);
  Close();
  detail::Backend& s = LiveSession(c);
  return Guarded(c, [&] {
    return params_.empty() ? s.Query(sql_, nullptr, nullptr) : s.QueryParams(sql_, params_, nullptr, nullptr);
  });
}

// ---------------------------------------------------------------------------------------
// Parameters

void TParameter::SetString(std::string_view Text) {
  if (type_ == TFieldType::ftUnknown) {
    value_ = std::string(Text);
    return;
  }
  value_ = detail::ConvertForParam(type_, Text, name_);
}

void TParameter::SetInteger(int32_t Value) {
  if (type_ == TFieldType::ftBoolean) {
    value_ = Value != 0 ? "1" : "0";
    return;
  }
  if (type_ == TFieldType::ftSmallint && (Value < -32768 || Value > 32767))
    throw EDatabaseError("integer " + std::to_string(Value) + " out of range for parameter " + name_,
                         TErrorKind::Conversion);
  value_ = std::to_string(Value);
}

void TParameter::SetFloat(double Value) {
  if (detail::IsIntegerType(type_) || type_ == TFieldType::ftBoolean) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", Value);
    value_ = detail::ConvertForParam(type_, buf, name_);
    return;
  }
  if (detail::IsNumberType(type_)) {
    if (!std::isfinite(Value) && type_ != TFieldType::ftFloat)
      throw EDatabaseError("non-finite value for parameter " + name_, TErrorKind::Conversion);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", Value);
    value_ = buf;
    return;
  }
  value_ = FormatFloat(Value);
}

void TParameter::SetNull() noexcept {
  value_.reset();
}

std::string TParameter::AsString() const {
  if (!value_) return {};
  if (type_ == TFieldType::ftBoolean) {
    if (*value_ == "1") return "True";
    if (*value_ == "0") return "False";
  }
  return *value_;
}

int32_t TParameter::AsInteger() const {
  if (!value_) return 0;
  if (type_ == TFieldType::ftBoolean) return *value_ == "1" ? -1 : 0;
  return TextToInt32(detail::Trim(*value_), "parameter " + name_);
}

int TParameters::HiddenIndex() const noexcept {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].Hidden()) return static_cast<int>(i);
  return -1;
}

int TParameters::Count() const noexcept {
  int n = 0;
  for (const auto& p : items_) n += p.Hidden() ? 0 : 1;
  return n;
}

TParameter& TParameters::Items(int Index) {
  int k = 0;
  for (auto& p : items_) {
    if (p.Hidden()) continue;
    if (k++ == Index) return p;
  }
  throw EDatabaseError("parameter index " + std::to_string(Index) + " out of range", TErrorKind::NotFound);
}

TParameter* TParameters::FindParam(std::string_view Name) noexcept {
  for (auto& p : items_)
    if (!p.Hidden() && EqualsNoCase(p.Name(), Name)) return &p;
  return nullptr;
}

TParameter& TParameters::ParamByName(std::string_view Name) {
  TParameter* p = FindParam(Name);
  if (!p)
    throw EDatabaseError(
        "Parameter '" + std::string(Name) + "' not found" +
            (owner_ && !owner_->ProcedureName().empty() ? " in " + owner_->ProcedureName() : std::string()),
        TErrorKind::NotFound);
  return *p;
}

bool TParameters::Refresh() {
  if (!owner_) return false;
  TADOConnection& c = owner_->RequireConnection();
  if (owner_->ProcedureName().empty()) throw EDatabaseError("ProcedureName not set", TErrorKind::State);
  detail::Backend& s = LiveSession(c);
  std::vector<TParameter> list;
  bool found = Guarded(c, [&] { return s.DescribeProc(owner_->ProcedureName(), list); });
  items_ = std::move(list);
  owner_->refreshed_ = found;
  return found;
}

// ---------------------------------------------------------------------------------------
// Stored procedure

TADOStoredProc::TADOStoredProc() : params_(this) {}
TADOStoredProc::TADOStoredProc(TADOConnection* Conn) : params_(this) {
  SetConnection(Conn);
}
TADOStoredProc::~TADOStoredProc() = default;

void TADOStoredProc::SetProcedureName(std::string Name) {
  if (Name == proc_) return;
  Close();
  proc_ = std::move(Name);
  params_.Clear();
  refreshed_ = false;
}

namespace {
// Well-formed UTF-8: the sessions' client encoding.
bool ValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      n = 1;
      cp = c;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      const auto t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    // No overlong forms, no surrogates, nothing beyond U+10FFFF.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    if (cp == 0) return false;  // no backend takes a NUL inside a text
    i += n;
  }
  return true;
}
}  // namespace

void TADOStoredProc::Run(bool WantRows) {
  TADOConnection& c = RequireConnection();
  if (proc_.empty()) throw EDatabaseError("ProcedureName not set", TErrorKind::State);
  Close();
  if (!refreshed_ && !params_.Refresh())
    throw EDatabaseError("Could not find stored procedure '" + proc_ + "'", TErrorKind::NotFound);
  // A value the session cannot carry fails this call alone; the link is not at fault.
  for (const TParameter& p : params_.All())
    if (p.Direction() != TParameterDirection::pdOutput && p.RawValue() && !ValidUtf8(*p.RawValue()))
      throw EDatabaseError("the value of parameter " + p.Name() + " is no valid UTF-8 text",
                           TErrorKind::Conversion);
  detail::Backend& s = LiveSession(c);
  TResultTable t;
  bool had = false;
  Guarded(c, [&] {
    s.CallProc(proc_, params_.All(), WantRows, t, had);
    return 0;
  });
  if (WantRows && had && c.Session()) SetResult(std::move(t));  // no session: closed once it ended
}

void TADOStoredProc::Open() {
  Run(true);
}
void TADOStoredProc::ExecProc() {
  Run(false);
}

}  // namespace qv::db

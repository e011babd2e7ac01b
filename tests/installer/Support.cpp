#include "Support.h"

#include <strings.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "PgFixture.h"
#include "base/ResultCodes.h"
#include "base/Text.h"
#include "bridge/DbLink.h"
#include "bridge/SharePool.h"
#include "bridge/SqlBind.h"
#include "bridge/SqlExec.h"
#include "db/Db.h"

namespace qv::test {
namespace fs = std::filesystem;

TTempDir::TTempDir() {
  std::string tmpl = (fs::temp_directory_path() / "qv-inst-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl + "/";
}

TTempDir::~TTempDir() {
  std::error_code ec;
  fs::permissions(dir_, fs::perms::owner_all, ec);
  fs::remove_all(dir_, ec);
}

void TTempDir::Put(const std::string& Name, const std::string& Bytes) const {
  fs::create_directories(fs::path(Path(Name)).parent_path());
  std::ofstream f(Path(Name), std::ios::binary | std::ios::trunc);
  f << Bytes;
}

std::string TTempDir::Slurp(const std::string& Name) const {
  std::ifstream f(Path(Name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

TShipped::TShipped(bool Demo) {
  if (!Demo) return;
  const fs::path from(QV_SHIPPED_DIR);
  fs::copy_file(from / "SetUp.ini", Path("SetUp.ini"));
  fs::create_directories(Path("Data"));
  for (const auto& e : fs::directory_iterator(from / "Data"))
    fs::copy_file(e.path(), Path("Data/") + e.path().filename().string());
}

void TShipped::SetUp(const std::string& Text) const {
  Put("SetUp.ini", Utf8ToGbk(Text));
}

std::string SetupText(const std::string& Data, const std::string& Log) {
  return "[Options]\r\nProductName=测试产品\r\nDataFileName=" + Data + "\r\nLogFileName=" + Log + "\r\n";
}

// ---------------------------------------------------------------------------------------

TPgNames::~TPgNames() {
  try {
    db::TADOConnection admin(Conn("postgres"));
    admin.Open();
    for (const std::string& n : names_)
      for (const std::string& d : {n, installer::NewName(n), installer::OldName(n)})
        admin.Execute("DROP DATABASE IF EXISTS " + installer::QuotePgName(d) + " WITH (FORCE)");
  } catch (...) {
    // the server went first
  }
}

std::string TPgNames::Fresh(const std::string& Prefix) {
  static int counter = 0;
  names_.push_back(Prefix + "_" + std::to_string(getpid()) + "_" + std::to_string(++counter));
  return names_.back();
}

std::string TPgNames::Conn(const std::string& Name) {
  return WithConnValue(DemoConnStr(), "dbname", Name);
}

bool TPgNames::Exists(const std::string& Name) {
  db::TADOConnection c(Conn("postgres"));
  c.Open();
  db::TADOQuery q(&c);
  q.SetSQL("SELECT 1 FROM pg_database WHERE datname = $1");
  q.SetParams({Name});
  q.Open();
  return q.RecordCount() == 1;
}

std::string TPgNames::Scalar(const std::string& Name, const std::string& Sql) {
  db::TADOConnection c(Conn(Name));
  c.Open();
  db::TADOQuery q(&c);
  q.SetSQL(Sql);
  q.Open();
  return q.Eof() ? std::string() : q.Fields(0).AsString();
}

void TPgNames::Exec(const std::string& Name, const std::string& Sql) {
  db::TADOConnection c(Conn(Name));
  c.Open();
  c.Execute(Sql);
}

std::vector<std::string> FailedProcedureCheck(const std::string& Conn) {
  std::vector<std::string> failed;
  ResetDbLink();
  if (!ConnectDatabase(Conn)) return {"(no connection or no procedure list)"};
  std::set<std::string> names = {"pda_bat_bill_inf"};
  for (const TBindRow& row : BindTable()) names.insert(row.procedure);
  for (const std::string& name : names) {
    TADOStoredProc ds(&dtDbLink().LocalDbLink);
    SetProcedure(ds, name);
    if (dtDbLink().SQL_OBJ_EXISTS(ds) != RC_OK) failed.push_back(name);
  }
  ResetDbLink();
  return failed;
}

std::pair<int, std::string> ServiceLogin(const std::string& Conn) {
  ResetDbLink();
  if (!ConnectDatabase(Conn)) return {-1, "(no connection)"};
  std::string text = "\"0001\",\"DEV00001\",\"003\",\"123\"", result;
  int flag = -1;
  const int code = cb_Read_Data_SQLPROC("RT-LOGIN", 12, text, &flag, result);
  FreeShareDataSetList();
  ResetDbLink();
  return {code, text};
}

// ---------------------------------------------------------------------------------------

namespace {

std::string Joined(const std::vector<std::string>& Params) {
  std::string s;
  for (const std::string& p : Params) s += (s.empty() ? "" : " | ") + p;
  return s;
}

// The database of that name, compared as SQL Server's default collation does.
std::map<std::string, std::vector<std::string>>::iterator Find(TFakeServer& S, const std::string& Name) {
  for (auto it = S.Databases.begin(); it != S.Databases.end(); ++it)
    if (strcasecmp(it->first.c_str(), Name.c_str()) == 0) return it;
  return S.Databases.end();
}

[[noreturn]] void Fail(const std::string& Why) {
  throw db::EDatabaseError("[fake SQL Server] " + Why);
}

}  // namespace

void TFakeSession::Record(const std::string& Kind, const std::string& Sql,
                          const std::vector<std::string>& Params) {
  s_.Log.push_back(Kind + " " + Sql + (Params.empty() ? "" : " [" + Joined(Params) + "]"));
  if (!open_) Fail("not connected");
  if (s_.FailIf && s_.FailIf(s_.Log.back())) Fail("refused: " + Sql);
}

void TFakeSession::Open(const std::string& ConnStr, int TimeoutSeconds) {
  s_.Log.push_back("open " + ConnStr + " timeout=" + std::to_string(TimeoutSeconds));
  if (s_.FailOpen) Fail("login failed");
  if (!open_) ++s_.Open;
  open_ = true;
}

void TFakeSession::Close() noexcept {
  if (!open_) return;
  open_ = false;
  --s_.Open;
  s_.Log.push_back("close");
}

installer::TRows TFakeSession::Query(const std::string& Sql, const std::vector<std::string>& Params) {
  Record("query", Sql, Params);
  installer::TRows rows;
  if (Sql == "SELECT * FROM sysdatabases WHERE name = ?" && Params.size() == 1) {
    auto it = Find(s_, Params[0]);
    if (it != s_.Databases.end()) rows.push_back({it->first, "7"});
    return rows;
  }
  if (Sql == "SELECT RTRIM(filename) FROM master.dbo.sysaltfiles" && Params.empty()) {
    for (const auto& [name, files] : s_.Databases)
      for (const std::string& f : files) rows.push_back({f});
    return rows;
  }
  Fail("unexpected query");
}

void TFakeSession::Execute(const std::string& Sql, const std::vector<std::string>& Params) {
  Record("exec", Sql, Params);
  if (Sql == "EXEC sp_attach_db @dbname = ?, @filename1 = ?, @filename2 = ?" && Params.size() == 3) {
    if (Find(s_, Params[0]) != s_.Databases.end()) Fail("database exists");
    for (const auto& [name, files] : s_.Databases)
      for (const std::string& f : files)
        if (f == Params[1] || f == Params[2]) Fail("file in use by " + name);
    if (!fs::exists(Params[1]) || !fs::exists(Params[2])) Fail("cannot open the files");
    s_.Databases[Params[0]] = {Params[1], Params[2]};
    return;
  }
  if (Sql == "EXEC sp_renamedb ?, ?" && Params.size() == 2) {
    auto from = Find(s_, Params[0]);
    if (from == s_.Databases.end() || Find(s_, Params[1]) != s_.Databases.end()) Fail("cannot rename");
    auto files = from->second;
    s_.Databases.erase(from);
    s_.Databases[Params[1]] = files;
    return;
  }
  if (Sql.rfind("DROP DATABASE [", 0) == 0 && Sql.back() == ']' && Params.empty()) {
    std::string name;
    for (size_t i = 15; i + 1 < Sql.size(); ++i) {
      if (Sql[i] == ']') {
        if (Sql[i + 1] != ']') Fail("bad identifier");
        ++i;
      }
      name += Sql[i];
    }
    auto it = Find(s_, name);
    if (it == s_.Databases.end()) Fail("no database " + name);
    std::error_code ec;
    for (const std::string& f : it->second) fs::remove(f, ec);  // the server deletes its files
    s_.Databases.erase(it);
    return;
  }
  Fail("unexpected statement");
}

installer::TSessionFactory FakeSessions(TFakeServer& Server) {
  return [&Server] { return std::make_unique<TFakeSession>(Server); };
}

void TRecordingUi::Message(installer::TIcon Icon, const std::string& Title, const std::string& Text) {
  const char* icon = Icon == installer::TIcon::Information ? "info"
                     : Icon == installer::TIcon::None      ? "none"
                                                           : "other";
  Seen.push_back("box " + Title + " " + icon + ": " + Text);
}

}  // namespace qv::test

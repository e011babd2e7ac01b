#pragma once
// What the installer's tests share: a shipped directory (SetUp.ini and Data) of the test's
// own, databases of their own on the fixture server (QV_TEST_PG) with the service's
// procedure check, and a recording fake of a SQL Server behind the session interface.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/ResultCodes.h"
#include "installer/core/Database.h"
#include "installer/core/Install.h"

namespace qv::test {

// A fresh directory that is removed again; Dir() ends in '/'.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& Name) const { return dir_ + Name; }
  void Put(const std::string& Name, const std::string& Bytes) const;  // parent folders made
  std::string Slurp(const std::string& Name) const;

 private:
  std::string dir_;
};

// The directory the program ships in: SetUp.ini (UTF-8 text stored as GBK) and Data.
class TShipped : public TTempDir {
 public:
  // The demo database as the build ships it (SetUp.ini and both scripts).
  static constexpr bool kDemo = true;
  explicit TShipped(bool Demo = false);
  void SetUp(const std::string& Text) const;  // SetUp.ini
};

// SetUp.ini text naming two shipped files.
std::string SetupText(const std::string& Data, const std::string& Log);

#define QV_NEED_SERVER()                                                             \
  do {                                                                               \
    if (!std::getenv("QV_TEST_PG") || !*std::getenv("QV_TEST_PG"))                   \
      GTEST_SKIP() << "QV_TEST_PG is not set: no PostgreSQL server to install into"; \
  } while (0)

// Databases on the fixture server with names of this process's own; every one handed out
// is dropped at the end (with what a replacement names beside it).
class TPgNames {
 public:
  ~TPgNames();
  std::string Fresh(const std::string& Prefix = "qvi");
  // The fixture's keyword string pointed at Name.
  static std::string Conn(const std::string& Name);
  static bool Exists(const std::string& Name);
  static std::string Scalar(const std::string& Name, const std::string& Sql);
  static void Exec(const std::string& Name, const std::string& Sql);

 private:
  std::vector<std::string> names_;
};

// The service's procedure check against the database at Conn: the bridge connects, loads
// the procedure list and checks every procedure it binds; the names that fail (empty when
// the database serves every command).
std::vector<std::string> FailedProcedureCheck(const std::string& Conn);
// A waiter's login (RT-LOGIN of operator 003 with password 123) through the service's read
// entry point: its result code and the record text it returns.
std::pair<int, std::string> ServiceLogin(const std::string& Conn);

// A SQL Server as far as the installer's statements go: databases with their files,
// sp_attach_db, sp_renamedb, DROP DATABASE, the existence and file queries. Every call is
// logged ("query SQL [p1 | p2]", "exec SQL [...]", "open CONNSTR timeout=N", "close"); a call
// whose log line FailIf accepts throws instead of running. Anything else the installer
// might send is refused.
struct TFakeServer {
  std::map<std::string, std::vector<std::string>> Databases;  // name -> its files
  std::vector<std::string> Log;
  std::function<bool(const std::string&)> FailIf;
  bool FailOpen = false;
  int Open = 0;  // sessions open now
};

class TFakeSession final : public installer::IDbSession {
 public:
  explicit TFakeSession(TFakeServer& Server) : s_(Server) {}
  ~TFakeSession() override { Close(); }
  void Open(const std::string& ConnStr, int TimeoutSeconds) override;
  void Close() noexcept override;
  void Execute(const std::string& Sql, const std::vector<std::string>& Params) override;
  installer::TRows Query(const std::string& Sql, const std::vector<std::string>& Params) override;

 private:
  void Record(const std::string& Kind, const std::string& Sql, const std::vector<std::string>& Params);
  TFakeServer& s_;
  bool open_ = false;
};

installer::TSessionFactory FakeSessions(TFakeServer& Server);

// A UI that records what it is shown and answers the replacement question from a script.
struct TRecordingUi : installer::IInstallerUi {
  std::vector<std::string> Seen;  // "status: ...", "box <title> <icon>: ...", "ask <title>: ..."
  bool Answer = true;
  void Status(const std::string& Text) override { Seen.push_back("status: " + Text); }
  void Message(installer::TIcon Icon, const std::string& Title, const std::string& Text) override;
  bool ConfirmReplace(const std::string& Title, const std::string& Text) override {
    Seen.push_back("ask " + Title + ": " + Text);
    return Answer;
  }
};

}  // namespace qv::test

#pragma once
// The installer's statements on the server, for SQL Server and for PostgreSQL, over a
// small session interface (the access layer in production, a recording fake in tests).
//
// A replacement never leaves the shop without its database: the new one is loaded under a
// temporary name, the old one is renamed aside only once the new one is complete, and it is
// dropped only after the new one has taken its name; a failure on the way puts the old name
// back.
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qv::installer {

using TRows = std::vector<std::vector<std::string>>;

// One connection. Every method but Close throws std::exception on failure; Params are
// text values for the statement's placeholders ("?" on SQL Server, "$n" on PostgreSQL).
class IDbSession {
 public:
  virtual ~IDbSession() = default;
  virtual void Open(const std::string& ConnStr, int TimeoutSeconds) = 0;
  virtual void Close() noexcept = 0;
  virtual void Execute(const std::string& Sql, const std::vector<std::string>& Params) = 0;
  virtual TRows Query(const std::string& Sql, const std::vector<std::string>& Params) = 0;
};

using TSessionFactory = std::function<std::unique_ptr<IDbSession>()>;

// A session over the access layer (libpq or ODBC, by the connection string). No login
// prompt; statements may run for up to ten minutes.
std::unique_ptr<IDbSession> NewAdoSession();

// Connection time-out of installing and testing, seconds.
inline constexpr int kConnectTimeout = 10;

// The names a replacement works with beside the database's own.
std::string NewName(const std::string& Name);  // Name + "_brinmoor_new"
std::string OldName(const std::string& Name);  // Name + "_brinmoor_old"

// Quoting for the statements that cannot take a parameter (identifiers of DDL).
std::string QuoteTsqlName(const std::string& Name);  // [name], "]" doubled
std::string QuotePgName(const std::string& Name);    // "name", '"' doubled

// What one installation works with.
struct TTarget {
  std::string Name;          // the database, validated
  std::string Directory;     // where the files go, with its trailing separator
  std::string DataFileName;  // names of the shipped files
  std::string LogFileName;
  bool Replacing = false;  // a database of that name exists and is to be replaced
};

class TDialect {
 public:
  virtual ~TDialect() = default;
  // The existence query.
  virtual bool Exists(IDbSession& Db, const std::string& Name) = 0;
  // Before the copy: clears what an interrupted replacement left and chooses where the
  // two files go.
  virtual void Prepare(IDbSession& Db, const TTarget& Target, std::string& DataPath,
                       std::string& LogPath) = 0;
  // After the copy: attaches (SQL Server) or creates and loads (PostgreSQL) the database
  // from the copied files and, for a replacement, swaps it in.
  virtual void Load(IDbSession& Db, const TTarget& Target, const std::string& DataPath,
                    const std::string& LogPath) = 0;
};

// SQL Server: the files are attached with sp_attach_db; a file that a database on the
// server holds is never copied over (the new one gets a free name beside it).
std::unique_ptr<TDialect> NewSqlServerDialect();
// PostgreSQL: the files are SQL scripts run in a database created for them; ConnStr is
// the maintenance connection, the scripts run on a second session of NewSession.
std::unique_ptr<TDialect> NewPostgresDialect(std::string ConnStr, TSessionFactory NewSession);
// By the connection string's backend; nullptr when it names none.
std::unique_ptr<TDialect> DialectFor(const std::string& ConnStr, TSessionFactory NewSession);

}  // namespace qv::installer

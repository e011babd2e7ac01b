#include "installer/core/Database.h"

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "base/Text.h"
#include "db/ConnBuild.h"
#include "db/Db.h"

namespace qv::installer {
namespace {

class TAdoSession final : public IDbSession {
 public:
  TAdoSession() {
    conn_.SetLoginPrompt(false);
    conn_.SetCommandTimeout(600);
  }
  void Open(const std::string& ConnStr, int TimeoutSeconds) override {
    conn_.Close();
    conn_.SetConnectionString(ConnStr);
    conn_.SetConnectionTimeout(TimeoutSeconds);
    conn_.Open();
  }
  void Close() noexcept override { conn_.Close(); }
  void Execute(const std::string& Sql, const std::vector<std::string>& Params) override {
    if (Params.empty()) {
      conn_.Execute(Sql);
      return;
    }
    db::TADOQuery q(&conn_);
    q.SetSQL(Sql);
    q.SetParams(Params);
    q.ExecSQL();
  }
  TRows Query(const std::string& Sql, const std::vector<std::string>& Params) override {
    db::TADOQuery q(&conn_);
    q.SetSQL(Sql);
    q.SetParams(Params);
    q.Open();
    TRows rows;
    for (q.First(); !q.Eof(); q.Next()) {
      std::vector<std::string> row;
      for (int i = 0; i < q.FieldCount(); ++i) row.push_back(q.Fields(i).AsString());
      rows.push_back(std::move(row));
    }
    return rows;
  }

 private:
  db::TADOConnection conn_;
};

// A server's file name as compared: "/" for "\", ASCII case folded (Windows servers
// compare without case; folding more can only make a free name look held).
std::string FileKey(std::string Path) {
  for (char& c : Path) {
    if (c == '\\') c = '/';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return Path;
}

// Directory + FileName, or the first of Directory + stem_1.ext, stem_2.ext ... that no
// database holds.
std::string FreePath(const std::string& Directory, const std::string& FileName,
                     const std::set<std::string>& Held, const std::string& Taken) {
  std::string path = Directory + FileName;
  const size_t dot = FileName.rfind('.');
  const std::string stem = dot == std::string::npos ? FileName : FileName.substr(0, dot);
  const std::string ext = dot == std::string::npos ? std::string() : FileName.substr(dot);
  for (int i = 1; Held.count(FileKey(path)) || FileKey(path) == FileKey(Taken); ++i)
    path = Directory + stem + "_" + std::to_string(i) + ext;
  return path;
}

std::string ReadWhole(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + Path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Runs Undo, keeping the error that made it necessary.
template <class F>
void Quietly(F&& Undo) {
  try {
    Undo();
  } catch (...) {
  }
}

class TSqlServer final : public TDialect {
 public:
  bool Exists(IDbSession& Db, const std::string& Name) override {
    return !Db.Query("SELECT * FROM sysdatabases WHERE name = ?", {Name}).empty();
  }

  void Prepare(IDbSession& Db, const TTarget& T, std::string& DataPath, std::string& LogPath) override {
    if (T.Replacing && Exists(Db, NewName(T.Name)))
      Db.Execute("DROP DATABASE " + QuoteTsqlName(NewName(T.Name)), {});
    // The files every database on the server has open (the one replaced among them).
    std::set<std::string> held;
    for (const auto& row : Db.Query("SELECT RTRIM(filename) FROM master.dbo.sysaltfiles", {}))
      if (!row.empty()) held.insert(FileKey(Trim(row[0])));
    DataPath = FreePath(T.Directory, T.DataFileName, held, "");
    LogPath = FreePath(T.Directory, T.LogFileName, held, DataPath);
  }

  void Load(IDbSession& Db, const TTarget& T, const std::string& DataPath,
            const std::string& LogPath) override {
    const std::string as = T.Replacing ? NewName(T.Name) : T.Name;
    Db.Execute("EXEC sp_attach_db @dbname = ?, @filename1 = ?, @filename2 = ?", {as, DataPath, LogPath});
    if (!T.Replacing) return;
    try {
      Db.Execute("EXEC sp_renamedb ?, ?", {T.Name, OldName(T.Name)});
    } catch (...) {
      Quietly([&] { Db.Execute("DROP DATABASE " + QuoteTsqlName(as), {}); });
      throw;
    }
    try {
      Db.Execute("EXEC sp_renamedb ?, ?", {as, T.Name});
    } catch (...) {
      Quietly([&] { Db.Execute("EXEC sp_renamedb ?, ?", {OldName(T.Name), T.Name}); });
      Quietly([&] { Db.Execute("DROP DATABASE " + QuoteTsqlName(as), {}); });
      throw;
    }
    // The new one is in place; an old one that cannot go now stays under its aside name.
    Quietly([&] { Db.Execute("DROP DATABASE " + QuoteTsqlName(OldName(T.Name)), {}); });
  }
};

class TPostgres final : public TDialect {
 public:
  TPostgres(std::string ConnStr, TSessionFactory NewSession)
      : connStr_(std::move(ConnStr)), newSession_(std::move(NewSession)) {}

  bool Exists(IDbSession& Db, const std::string& Name) override {
    return !Db.Query("SELECT datname FROM pg_catalog.pg_database WHERE datname = $1", {Name}).empty();
  }

  void Prepare(IDbSession& Db, const TTarget& T, std::string& DataPath, std::string& LogPath) override {
    if (T.Replacing && Exists(Db, NewName(T.Name)))
      Db.Execute("DROP DATABASE " + QuotePgName(NewName(T.Name)), {});
    DataPath = T.Directory + T.DataFileName;
    LogPath = T.Directory + T.LogFileName;
  }

  void Load(IDbSession& Db, const TTarget& T, const std::string& DataPath,
            const std::string& LogPath) override {
    const std::string as = T.Replacing ? NewName(T.Name) : T.Name;
    Db.Execute("CREATE DATABASE " + QuotePgName(as) + " TEMPLATE template0 ENCODING 'UTF8'", {});
    try {
      std::unique_ptr<IDbSession> load = newSession_();
      load->Open(db::PostgresWithDatabase(connStr_, as), kConnectTimeout);
      try {
        load->Execute(ReadWhole(DataPath), {});
        load->Execute(ReadWhole(LogPath), {});
      } catch (...) {
        load->Close();
        throw;
      }
      load->Close();
    } catch (...) {
      Quietly([&] { Db.Execute("DROP DATABASE " + QuotePgName(as), {}); });
      throw;
    }
    if (!T.Replacing) return;
    try {
      Db.Execute("ALTER DATABASE " + QuotePgName(T.Name) + " RENAME TO " + QuotePgName(OldName(T.Name)), {});
    } catch (...) {
      Quietly([&] { Db.Execute("DROP DATABASE " + QuotePgName(as), {}); });
      throw;
    }
    try {
      Db.Execute("ALTER DATABASE " + QuotePgName(as) + " RENAME TO " + QuotePgName(T.Name), {});
    } catch (...) {
      Quietly([&] {
        Db.Execute("ALTER DATABASE " + QuotePgName(OldName(T.Name)) + " RENAME TO " + QuotePgName(T.Name),
                   {});
      });
      Quietly([&] { Db.Execute("DROP DATABASE " + QuotePgName(as), {}); });
      throw;
    }
    Quietly([&] { Db.Execute("DROP DATABASE " + QuotePgName(OldName(T.Name)), {}); });
  }

 private:
  std::string connStr_;
  TSessionFactory newSession_;
};

}  // namespace

std::unique_ptr<IDbSession> NewAdoSession() {
  return std::make_unique<TAdoSession>();
}

std::string NewName(const std::string& Name) {
  return Name + "_brinmoor_new";
}
std::string OldName(const std::string& Name) {
  return Name + "_brinmoor_old";
}

std::string QuoteTsqlName(const std::string& Name) {
  std::string r = "[";
  for (char c : Name) r += c == ']' ? std::string("]]") : std::string(1, c);
  return r + "]";
}

std::string QuotePgName(const std::string& Name) {
  std::string r = "\"";
  for (char c : Name) r += c == '"' ? std::string("\"\"") : std::string(1, c);
  return r + "\"";
}

std::unique_ptr<TDialect> NewSqlServerDialect() {
  return std::make_unique<TSqlServer>();
}

std::unique_ptr<TDialect> NewPostgresDialect(std::string ConnStr, TSessionFactory NewSession) {
  return std::make_unique<TPostgres>(std::move(ConnStr), std::move(NewSession));
}

std::unique_ptr<TDialect> DialectFor(const std::string& ConnStr, TSessionFactory NewSession) {
  try {
    switch (db::ParseConnectionString(ConnStr).Backend) {
      case db::TBackend::PostgreSQL:
        return NewPostgresDialect(ConnStr, std::move(NewSession));
      case db::TBackend::ODBC:
        return NewSqlServerDialect();
      default:
        return nullptr;
    }
  } catch (...) {
    return nullptr;
  }
}

}  // namespace qv::installer

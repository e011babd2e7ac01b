#pragma once
// Database helpers of the bridge tests: the fixture server from QV_TEST_PG, a private
// database per test process (so that tests running side by side never meet), and a
// socket relay whose stop stands for a broken network.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "db/Db.h"

namespace qv::test {

// The demo database's connection string, or "" when no server was provided.
std::string DemoConnStr();

#define QV_NEED_PG()                                                               \
  do {                                                                             \
    if (::qv::test::DemoConnStr().empty())                                         \
      GTEST_SKIP() << "QV_TEST_PG is not set: no database server to test against"; \
  } while (0)

// Value of a keyword ("host", "dbname", ...) of a libpq keyword string, and a copy with it
// replaced (or added).
std::string ConnValue(const std::string& conn, const std::string& key);
std::string WithConnValue(const std::string& conn, const std::string& key, const std::string& value);

using Rows = std::vector<std::vector<std::string>>;

// Runs statements on a connection of its own.
class SqlSession {
 public:
  explicit SqlSession(const std::string& conn);
  void Exec(const std::string& sql);
  Rows Query(const std::string& sql);
  std::string Scalar(const std::string& sql);
  db::TADOConnection& Connection() { return conn_; }

 private:
  db::TADOConnection conn_;
};

// An empty database of its own on the fixture server, dropped again at the end.
class PrivateDb {
 public:
  PrivateDb();
  ~PrivateDb();
  const std::string& ConnStr() const { return conn_; }
  const std::string& Name() const { return name_; }
  SqlSession& Sql() { return *session_; }

 private:
  std::string name_;
  std::string conn_;
  std::unique_ptr<SqlSession> session_;
};

// Relays a Unix-socket PostgreSQL server: ConnStr() reaches the server through it; Stop()
// cuts every relayed connection and refuses new ones.
class SocketRelay {
 public:
  explicit SocketRelay(const std::string& target_conn);
  ~SocketRelay();
  const std::string& ConnStr() const { return conn_; }
  void Stop();

 private:
  void Run();
  std::string dir_, conn_, target_;
  int listen_fd_ = -1;
  int stop_pipe_[2] = {-1, -1};
  std::thread thread_;
  std::atomic<bool> stopped_{false};
};

// A PostgreSQL server of its own (scripts/pg-fixture, with the demo database), for tests
// that stop and start the server itself. Stopped and removed at the end.
class PrivateServer {
 public:
  PrivateServer();  // throws std::runtime_error when the server cannot be set up
  ~PrivateServer();
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;
  const std::string& ConnStr() const { return conn_; }
  void Stop();   // fast shutdown: every session is cut, new ones are refused
  void Start();  // the same cluster again

 private:
  std::string dir_, conn_;
};

// Creates procedure `name` in db with the same signature as the demo database's
// procedure of that name; it records every argument (as text, in JSON) in table calls
// and, when it has a result cursor, opens it empty.
void CreateRecorder(SqlSession& demo, SqlSession& db, const std::string& name);
// The arguments of the last recorded call: procedure name and name -> text ("<null>").
struct RecordedCall {
  std::string proc;
  std::vector<std::pair<std::string, std::string>> args;  // sorted by name
};
std::vector<RecordedCall> RecordedCalls(SqlSession& db);

}  // namespace qv::test

#include "PgFixture.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>

namespace qv::test {

std::string DemoConnStr() {
  const char* s = std::getenv("QV_TEST_PG");
  return s != nullptr ? s : "";
}

namespace {

std::vector<std::pair<std::string, std::string>> SplitConn(const std::string& conn) {
  std::vector<std::pair<std::string, std::string>> out;
  std::istringstream in(conn);
  std::string word;
  while (in >> word) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos) continue;
    out.emplace_back(word.substr(0, eq), word.substr(eq + 1));
  }
  return out;
}

std::string Quoted(const std::string& ident) {
  return "\"" + ident + "\"";
}

std::vector<std::string> SplitBar(const std::string& s) {
  std::vector<std::string> out;
  if (s.empty()) return out;
  size_t start = 0;
  while (true) {
    const size_t bar = s.find('|', start);
    out.push_back(s.substr(start, bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return out;
}

sockaddr_un UnixAddress(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return a;
}

}  // namespace

std::string ConnValue(const std::string& conn, const std::string& key) {
  for (const auto& [k, v] : SplitConn(conn))
    if (k == key) return v;
  return "";
}

std::string WithConnValue(const std::string& conn, const std::string& key, const std::string& value) {
  std::string out;
  bool done = false;
  for (auto [k, v] : SplitConn(conn)) {
    if (k == key) {
      v = value;
      done = true;
    }
    out += (out.empty() ? "" : " ") + k + "=" + v;
  }
  if (!done) out += (out.empty() ? "" : " ") + key + "=" + value;
  return out;
}

SqlSession::SqlSession(const std::string& conn) {
  conn_.Open(conn);
}

void SqlSession::Exec(const std::string& sql) {
  conn_.Execute(sql);
}

Rows SqlSession::Query(const std::string& sql) {
  db::TADOQuery q(&conn_);
  q.SetSQL(sql);
  q.Open();
  Rows rows;
  for (q.First(); !q.Eof(); q.Next()) {
    std::vector<std::string> row;
    for (int i = 0; i < q.FieldCount(); ++i) row.push_back(q.Fields(i).AsString());
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string SqlSession::Scalar(const std::string& sql) {
  Rows rows = Query(sql);
  return rows.empty() || rows[0].empty() ? std::string() : rows[0][0];
}

PrivateDb::PrivateDb() {
  static int counter = 0;
  name_ = "qvt_" + std::to_string(getpid()) + "_" + std::to_string(++counter);
  SqlSession admin(DemoConnStr());
  admin.Exec("CREATE DATABASE " + name_ + " TEMPLATE template0 ENCODING 'UTF8'");
  conn_ = WithConnValue(DemoConnStr(), "dbname", name_);
  session_ = std::make_unique<SqlSession>(conn_);
  session_->Exec("create table calls(seq serial primary key, proc text, args jsonb)");
}

PrivateDb::~PrivateDb() {
  session_.reset();
  try {
    SqlSession admin(DemoConnStr());
    admin.Exec("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
  } catch (...) {
  }
}

SocketRelay::SocketRelay(const std::string& target_conn) {
  const std::string port =
      ConnValue(target_conn, "port").empty() ? std::string("5432") : ConnValue(target_conn, "port");
  target_ = ConnValue(target_conn, "host") + "/.s.PGSQL." + port;
  char tmpl[] = "/tmp/qv-relay-XXXXXX";
  dir_ = mkdtemp(tmpl) ? tmpl : "/tmp";
  conn_ = WithConnValue(target_conn, "host", dir_);
  listen_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_un a = UnixAddress(dir_ + "/.s.PGSQL." + port);
  if (bind(listen_fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || listen(listen_fd_, 16) != 0 ||
      pipe(stop_pipe_) != 0)
    throw std::runtime_error("relay socket");
  thread_ = std::thread([this] { Run(); });
}

SocketRelay::~SocketRelay() {
  Stop();
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void SocketRelay::Stop() {
  if (stopped_.exchange(true)) return;
  (void)!write(stop_pipe_[1], "x", 1);
  if (thread_.joinable()) thread_.join();
  close(listen_fd_);
  close(stop_pipe_[0]);
  close(stop_pipe_[1]);
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);  // nothing left to connect to
}

void SocketRelay::Run() {
  std::map<int, int> peer;  // both directions
  char buf[8192];
  while (true) {
    std::vector<pollfd> fds{{stop_pipe_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}};
    for (const auto& [fd, other] : peer) fds.push_back({fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) break;
    if (fds[1].revents & POLLIN) {
      const int client = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const sockaddr_un a = UnixAddress(target_);
      if (client >= 0 && server >= 0 &&
          connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        peer[client] = server;
        peer[server] = client;
      } else {
        if (client >= 0) close(client);
        if (server >= 0) close(server);
      }
    }
    for (size_t i = 2; i < fds.size(); ++i) {
      if (!fds[i].revents) continue;
      const int fd = fds[i].fd;
      auto it = peer.find(fd);
      if (it == peer.end()) continue;
      const int other = it->second;
      const ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0 || write(other, buf, static_cast<size_t>(n)) != n) {
        close(fd);
        close(other);
        peer.erase(fd);
        peer.erase(other);
      }
    }
  }
  for (const auto& [fd, other] : peer) close(fd);
}

namespace {

// Runs a shell command; its standard output, or throws when it fails.
std::string Shell(const std::string& cmd) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) throw std::runtime_error("cannot run: " + cmd);
  char buf[512];
  while (size_t n = fread(buf, 1, sizeof buf, p)) out.append(buf, n);
  if (pclose(p) != 0) throw std::runtime_error("failed: " + cmd);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

const std::string kFixture = std::string(QV_SOURCE_DIR) + "/scripts/pg-fixture";

}  // namespace

PrivateServer::PrivateServer() {
  char tmpl[] = "/tmp/qv-pgs-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
  dir_ = tmpl;
  Shell("chmod 755 " + dir_);
  try {
    conn_ = Shell("bash " + kFixture + " start " + dir_ + " 2>/dev/null");
  } catch (...) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    throw;
  }
}

PrivateServer::~PrivateServer() {
  try {
    Stop();
  } catch (...) {
  }
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void PrivateServer::Stop() {
  Shell("bash " + kFixture + " stop " + dir_ + " 2>/dev/null");
}

void PrivateServer::Start() {
  // The fixture creates clusters; starting an existing one is pg_ctl's job, run as the
  // cluster's owner and found where the fixture finds it.
  Shell("d=" + dir_ +
        "; bin=$(dirname \"$(readlink -f \"$(command -v pg_ctl || echo /nonexistent)\")\"); "
        "[ -x \"$bin/postgres\" ] || bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1); "
        "run=; [ \"$(id -u)\" -eq 0 ] && run=\"runuser -u $(stat -c %U $d/data) --\"; "
        "$run \"$bin/pg_ctl\" -D $d/data -l $d/server.log -w -t 60 -s start >/dev/null 2>&1");
}

void CreateRecorder(SqlSession& demo, SqlSession& db, const std::string& name) {
  const Rows info = demo.Query(
      "select pg_get_function_arguments(p.oid),"
      " array_to_string(p.proargnames, '|'),"
      " array_to_string(array(select format_type(t, null)"
      "   from unnest(coalesce(p.proallargtypes, p.proargtypes::oid[])) t), '|')"
      " from pg_proc p where p.proname = '" +
      name +
      "'"
      " and p.pronamespace = 'public'::regnamespace and p.prokind = 'p'");
  if (info.size() != 1) throw std::runtime_error("the demo database has no procedure " + name);
  const std::vector<std::string> names = SplitBar(info[0][1]);
  const std::vector<std::string> types = SplitBar(info[0][2]);
  std::string pairs, cursor;
  for (size_t i = 0; i < names.size() && i < types.size(); ++i) {
    if (types[i] == "refcursor") {
      cursor = names[i];
      continue;
    }
    pairs += (pairs.empty() ? "" : ", ") + ("'" + names[i] + "', ") + Quoted(names[i]) + "::text";
  }
  std::string body =
      "INSERT INTO calls(proc, args) VALUES ('" + name + "', jsonb_build_object(" + pairs + "));";
  if (!cursor.empty()) body += " OPEN " + Quoted(cursor) + " FOR SELECT 1 AS none WHERE false;";
  db.Exec("CREATE OR REPLACE PROCEDURE " + Quoted(name) + "(" + info[0][0] +
          ") LANGUAGE plpgsql AS $body$ BEGIN " + body + " END $body$");
}

std::vector<RecordedCall> RecordedCalls(SqlSession& db) {
  const Rows rows = db.Query(
      "select c.seq::text, c.proc, e.key, coalesce(e.value, '<null>')"
      " from calls c, jsonb_each_text(c.args) e order by c.seq, e.key");
  std::vector<RecordedCall> calls;
  std::string seq;
  for (const auto& r : rows) {
    if (calls.empty() || r[0] != seq) {
      calls.push_back({r[1], {}});
      seq = r[0];
    }
    calls.back().args.emplace_back(r[2], r[3]);
  }
  return calls;
}

}  // namespace qv::test

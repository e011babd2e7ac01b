#include "bridge/ProcCheck.h"

#include <cstddef>
#include <exception>
#include <iterator>
#include <string_view>
#include <vector>

#include "base/Fields.h"
#include "base/ResultCodes.h"
#include "bridge/DbLink.h"
#include "bridge/RecordText.h"
#include "bridge/SqlBind.h"
#include "bridge/SqlExec.h"
#include "db/Db.h"

namespace qv {
namespace {

// Longest server reason quoted after "columns not checked".
constexpr size_t kBriefReasonChars = 120;

bool SameName(const std::string& a, const std::string& b) {
  return UpperCase(a) == UpperCase(b);
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names)
    if (SameName(n, name)) return true;
  return false;
}

// The procedures in the binding table's order, each once, with every parameter any of its
// commands fills and the two result parameters that end every call.
struct TWanted {
  std::string procedure;
  std::vector<std::string> params;
  bool reads = false;                // a command of it packs result rows into records
  std::vector<std::string> columns;  // the columns those records are built from
};

std::vector<TWanted> WantedProcedures() {
  std::vector<TWanted> list;
  for (const TBindRow& row : BindTable()) {
    TWanted* w = nullptr;
    for (TWanted& x : list)
      if (x.procedure == row.procedure) w = &x;
    if (w == nullptr) {
      list.push_back({row.procedure, {}, false, {}});
      w = &list.back();
    }
    for (const TBindParam& p : row.params)
      if (!Contains(w->params, p.name)) w->params.push_back(p.name);
    if (const TRecordFormat* format = FindRecordFormat(row.strCmd)) {
      w->reads = true;
      for (const TRecordColumn& c : format->columns)
        if (!Contains(w->columns, c.name)) w->columns.push_back(c.name);
    }
  }
  for (TWanted& w : list) {
    w.params.push_back("@iResult");
    w.params.push_back("@strResult");
  }
  // The stocktaking uploads post each finished document through one more procedure.
  list.push_back({kBatBillProc, {std::begin(kBatBillParams), std::end(kBatBillParams)}, false, {}});
  return list;
}

// The server's reason in a few words: its own sentence without the driver's bracketed
// prefixes, only the first diagnostic and its first sentence; nothing when even that is long.
std::string BriefReason(std::string_view message) {
  for (;;) {
    while (!message.empty() && message.front() == ' ') message.remove_prefix(1);
    if (message.starts_with("[ODBC]")) {
      message.remove_prefix(6);
      continue;
    }
    const size_t close = message.find(']');
    if (!message.starts_with('[') || close == std::string_view::npos) break;
    message.remove_prefix(close + 1);
  }
  message = message.substr(0, message.find("; ["));
  if (const size_t stop = message.find(". "); stop != std::string_view::npos)
    message = message.substr(0, stop + 1);
  while (!message.empty() && static_cast<unsigned char>(message.back()) <= ' ') message.remove_suffix(1);
  std::string brief;
  size_t chars = 0;  // characters, not bytes: servers answer in the login's language
  for (char c : message) {
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++chars;
    brief += static_cast<unsigned char>(c) < ' ' ? ' ' : c;  // one line per procedure stays one
  }
  return chars <= kBriefReasonChars ? brief : std::string();
}

// The columns of the procedure's first result set as the server describes them without
// running it, or why it cannot (an empty reason: no way to ask, or a long answer).
struct TDescribed {
  bool known = false;
  std::vector<std::string> columns;
  std::string reason;
};

TDescribed DescribeResult(TADOConnection& conn, TADOStoredProc& proc) {
  TDescribed d;
  const std::string sql = db::ResultColumnsSql(conn.Backend(), proc.ProcedureName(), proc.Parameters().All());
  if (sql.empty()) return d;
  TADOQuery q(&conn);
  q.SetSQL(sql);
  try {
    q.Open();
    if (!q.Active()) return d;
    db::TField& name = q.FieldByName("name");
    db::TField* hidden = q.FindField("is_hidden");
    for (q.First(); !q.Eof(); q.Next())
      if (hidden == nullptr || hidden->AsInteger() == 0) d.columns.push_back(name.AsString());
    d.known = true;
  } catch (const std::exception& e) {
    d.reason = BriefReason(e.what());
  }
  return d;
}

}  // namespace

int CheckDatabase(const std::string& ConnStr, const std::function<void(const std::string&)>& Out) {
  TdtDbLink& dm = dtDbLink();
  try {
    dm.LocalDbLink.Close();
    dm.LocalDbLink.SetConnectionString(ConnStr);
    dm.LocalDbLink.Open();
    if (!LoadProcList()) throw db::EDatabaseError("the list of stored procedures could not be read");
  } catch (const std::exception& e) {
    dm.LocalDbLink.Close();
    Out(std::string("cannot connect to the database: ") + e.what());
    return kCheckNoConnect;
  }

  int ok = 0, bad = 0;
  for (const TWanted& w : WantedProcedures()) {
    TADOStoredProc proc(&dm.LocalDbLink);
    SetProcedure(proc, w.procedure);
    const int rc = dm.SQL_OBJ_EXISTS(proc);
    if (rc == RC_NOPROC) {
      Out(w.procedure + ": missing");
      ++bad;
      continue;
    }
    if (rc != RC_OK) {
      Out(w.procedure + ": parameters could not be read (" + iErrToStr(rc) + ")");
      ++bad;
      continue;
    }
    std::vector<std::string> have;
    for (int i = 0; i < proc.Parameters().Count(); ++i) {
      const db::TParameter& p = proc.Parameters().Items(i);
      if (p.Direction() != db::TParameterDirection::pdReturnValue) have.push_back(p.Name());
    }
    std::vector<std::string> problems;
    for (const std::string& n : w.params)
      if (!Contains(have, n)) problems.push_back("parameter " + n + " missing");
    for (const std::string& n : have)
      if (!Contains(w.params, n)) problems.push_back("extra parameter " + n);
    std::string note;
    if (w.reads) {
      // Where the server cannot describe the rows without running the procedure (a cursor,
      // a temp table, dynamic SQL, an older server), say so rather than guess.
      const TDescribed d = DescribeResult(dm.LocalDbLink, proc);
      if (!d.known) {
        note = d.reason.empty() ? " (columns not checked)" : " (columns not checked: " + d.reason + ")";
      } else if (d.columns.empty()) {
        problems.push_back("returns no result set");
      } else {
        for (const std::string& c : w.columns)
          if (!Contains(d.columns, c)) problems.push_back("column " + c + " missing");
      }
    }
    if (problems.empty()) {
      Out(w.procedure + ": ok" + note);
      ++ok;
      continue;
    }
    for (const std::string& p : problems) Out(w.procedure + ": " + p);
    ++bad;
  }
  dm.LocalDbLink.Close();
  Out(std::to_string(ok + bad) + " procedures checked: " + std::to_string(ok) + " ok, " +
      std::to_string(bad) + " with problems");
  return bad == 0 ? kCheckOk : kCheckProblems;
}

}  // namespace qv

#include "bridge/ProcCheck.h"

#include <exception>
#include <iterator>
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
  bool reads = false;  // a command of it packs result rows into records
};

std::vector<TWanted> WantedProcedures() {
  std::vector<TWanted> list;
  for (const TBindRow& row : BindTable()) {
    TWanted* w = nullptr;
    for (TWanted& x : list)
      if (x.procedure == row.procedure) w = &x;
    if (w == nullptr) {
      list.push_back({row.procedure, {}, false});
      w = &list.back();
    }
    for (const TBindParam& p : row.params)
      if (!Contains(w->params, p.name)) w->params.push_back(p.name);
    w->reads |= FindRecordFormat(row.strCmd) != nullptr;
  }
  for (TWanted& w : list) {
    w.params.push_back("@iResult");
    w.params.push_back("@strResult");
  }
  // The stocktaking uploads post each finished document through one more procedure.
  list.push_back({kBatBillProc, {std::begin(kBatBillParams), std::end(kBatBillParams)}, false});
  return list;
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
    if (problems.empty()) {
      // A reading procedure's rows come back through a cursor (PostgreSQL) or a result set
      // that neither catalogue describes without running the procedure: say so, not guess.
      Out(w.procedure + ": ok" + (w.reads ? " (columns not checked)" : ""));
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

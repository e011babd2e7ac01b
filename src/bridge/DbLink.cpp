#include "bridge/DbLink.h"

#include <chrono>
#include <exception>

#include "base/IniFile.h"
#include "base/Logging.h"
#include "base/ResultCodes.h"
#include "base/Text.h"
#include "db/ConnBuild.h"

namespace qv {
namespace {

bool& LinkedSlot() {
  static bool linked = false;
  return linked;
}

struct TLinkCheckState {
  bool ran = false;  // a check has run since the start
  int64_t last = 0;  // and when
  std::function<void()> hook;
  std::function<int64_t()> clock;
};

TLinkCheckState& LinkCheck() {
  static TLinkCheckState state;
  return state;
}

int64_t LinkCheckNow() {
  const TLinkCheckState& st = LinkCheck();
  if (st.clock) return st.clock();
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TdtDbLink::TdtDbLink() : qryTask(&LocalDbLink), sqlproc_list_qry(&LocalDbLink), spbatbill(&LocalDbLink) {
  LocalDbLink.SetConnectionTimeout(5);
  LocalDbLink.SetLoginPrompt(false);
  qryTask.SetName("qryTask");
  sqlproc_list_qry.SetName("sqlproc_list_qry");
  spbatbill.SetName("spbatbill");
  // Server errors the access layer reports without failing the call (an error after a
  // procedure's rows) go to the error log.
  db::SetServerMessageLog([](const std::string& m) { WriteErrLog(m); });
}

TdtDbLink& dtDbLink() {
  static TdtDbLink module;
  return module;
}

void SetProcedure(TADOStoredProc& DataSet, const std::string& Name) {
  if (DataSet.ProcedureName() == Name) return;
  DataSet.SetProcedureName(Name);
  DataSet.SetTag(0);
}

int TdtDbLink::SQL_OBJ_EXISTS(TADOStoredProc& DataSet) {
  try {
    const std::string name = DataSet.CommandText();
    if (name.empty()) {
      WriteErrLog("SQL_OBJ_EXISTS spName=\"\"");
      return RC_PROCCHECK;
    }
    if (!sqlproc_list_qry.Active()) {
      WriteErrLog("SQL_OBJ_EXISTS qrySplist not active.");
      return RC_PROCCHECK;
    }
    if (DataSet.Tag() < 1) {
      bool found = sqlproc_list_qry.Locate("name", name);
      if (!found) {
        // Created since the list was loaded? Ask the server once more.
        sqlproc_list_qry.Close();
        sqlproc_list_qry.Open();
        found = sqlproc_list_qry.Locate("name", name);
      }
      if (!found) {
        WriteResultLog("No Exist \"" + name + "\" Object");
        DataSet.SetTag(0);
        return RC_NOPROC;
      }
      DataSet.SetTag(1);
    }
    if (DataSet.Tag() >= 2) return RC_OK;
    if (DataSet.Parameters().Refresh()) {
      DataSet.SetTag(2);
      return RC_OK;
    }
    WriteResultLog(name + " Parameters.Refresh return false!");
    return RC_PARAMREFRESH;
  } catch (const std::exception& e) {
    WriteErrLog(std::string("SQL_OBJ_EXISTS Except:") + e.what());
    return RC_PROCCHECK;
  }
}

void GetConnectionString(std::string& ConnStr) {
  const TIniFile ini = DataLinkIni();
  const char* sec = "connectionstring";
  const int ntauth = ini.ReadInteger(sec, "ntauth", 0);
  const std::string userid = ini.ReadString(sec, "userid", "");
  const std::string password = ini.ReadString(sec, "password", "");
  const std::string server = ini.ReadString(sec, "server", "");
  const int uport = ini.ReadInteger(sec, "uport", 0);
  const std::string port = Trim(ini.ReadString(sec, "port", "1433"));
  const std::string dbname = ini.ReadString(sec, "dbname", "vqerp");
  const std::string connstring = ini.ReadString(sec, "connstring", "");

  if (!connstring.empty()) {
    ConnStr = connstring;
    return;
  }
  ConnStr = db::BuildOleDbConnString({ntauth != 0, dbname, userid, password, server, uport != 0, port});
}

bool OpenConnection(TADOConnection& Connection, const std::string& ConnStr) {
  try {
    Connection.Close();
    Connection.SetConnectionString(ConnStr);
    Connection.Open();
    return true;
  } catch (...) {
    Connection.Close();
    return false;
  }
}

bool OpenQuery(TADOQuery& Query, const std::string& SqlText) {
  TADOConnection* conn = Query.Connection();
  if (conn == nullptr) throw db::EDatabaseError("Missing connection", db::TErrorKind::NotConnected);
  if (!conn->Connected()) conn->Open();
  try {
    Query.Close();
    Query.SetSQL(SqlText);
    Query.Open();
    return true;
  } catch (...) {
    conn->Close();
    return false;
  }
}

std::string ProcListText(db::TBackend Backend) {
  if (Backend == db::TBackend::PostgreSQL) return db::ProcListSql(Backend);
  return "select name from sysobjects where xtype='P' and category='0' order by name";
}

std::string LinkCheckText(db::TBackend Backend) {
  if (Backend == db::TBackend::PostgreSQL) return db::LinkCheckSql(Backend);
  return "Select @@CONNECTIONS";
}

bool LoadProcList() {
  TdtDbLink& dm = dtDbLink();
  return OpenQuery(dm.sqlproc_list_qry, ProcListText(dm.LocalDbLink.Backend()));
}

bool ConnectDatabase(const std::string& ConnStr) {
  if (DbCallUnderWay()) return false;
  try {
    if (!OpenConnection(dtDbLink().LocalDbLink, ConnStr)) return false;
    const bool loaded = LoadProcList();
    SetDbLinked(loaded);
    return loaded;
  } catch (...) {
    return false;
  }
}

bool CheckDbLink() {
  TdtDbLink& dm = dtDbLink();
  if (DbCallUnderWay()) return true;
  try {
    return OpenQuery(dm.qryTask, LinkCheckText(dm.LocalDbLink.Backend()));
  } catch (...) {
    // The connection could not even be reopened: the link is down, not up.
    return false;
  }
}

bool TestLinkString(const std::string& ConnStr) {
  TADOConnection conn;
  bool ok = false;
  try {
    conn.SetConnectionString(ConnStr);
    conn.SetLoginPrompt(false);
    conn.SetConnectionTimeout(1);
    conn.Open();
    ok = true;
  } catch (...) {
    ok = false;
  }
  conn.Close();
  return ok;
}

void ResetDbLink() {
  TdtDbLink& dm = dtDbLink();
  dm.qryTask.Close();
  dm.sqlproc_list_qry.Close();
  dm.spbatbill.Close();
  dm.spbatbill.SetTag(0);
  dm.LocalDbLink.Close();
  SetDbLinked(false);
  LinkCheck().ran = false;
}

bool DbCallUnderWay() {
  return dtDbLink().LocalDbLink.Busy();
}

bool DbLinkUp() {
  return GetDbLinked() && dtDbLink().LocalDbLink.Connected();
}

bool CheckDbLinkNow() {
  TLinkCheckState& st = LinkCheck();
  const int64_t now = LinkCheckNow();
  if (DbCallUnderWay() || (st.ran && now - st.last < kLinkCheckGapMs)) return DbLinkUp();
  st.ran = true;
  st.last = now;
  try {
    if (GetDbLinked()) {
      if (!CheckDbLink()) SetDbLinked(false);
    } else {
      std::string s;
      GetConnectionString(s);
      if (TestLinkString(s)) ConnectDatabase(s);
    }
    if (st.hook) st.hook();
  } catch (...) {
    WriteErrLog("CheckDbLinkNow except:" + ExceptionText());
  }
  return DbLinkUp();
}

void SetLinkCheckedHook(std::function<void()> Hook) {
  LinkCheck().hook = std::move(Hook);
}
void SetLinkCheckClock(std::function<int64_t()> Clock) {
  LinkCheck().clock = std::move(Clock);
}

bool GetDbLinked() {
  return LinkedSlot();
}
void SetDbLinked(bool Linked) {
  LinkedSlot() = Linked;
}

}  // namespace qv

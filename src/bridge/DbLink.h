#pragma once
// The data module: the service's one database connection, the procedure list the procedure
// check consults, the link check, and the database-linked flag.
#include <cstdint>
#include <functional>
#include <string>

#include "db/Db.h"

namespace qv {

using db::TADOConnection;
using db::TADOQuery;
using db::TADOStoredProc;

class TdtDbLink {
 public:
  TdtDbLink();
  TdtDbLink(const TdtDbLink&) = delete;
  TdtDbLink& operator=(const TdtDbLink&) = delete;

  // The connection first: every component below runs on it.
  TADOConnection LocalDbLink;  // time-out 5 s, not connected until ConnectDatabase
  TADOQuery qryTask;           // the link check
  TADOQuery sqlproc_list_qry;  // names of the user stored procedures, column "name"
  TADOStoredProc spbatbill;    // posting of stocktaking documents

  // RC_OK when DataSet's procedure exists and its parameters are known, else RC_PROCCHECK
  // (no check possible), RC_NOPROC or RC_PARAMREFRESH. The answer is cached in Tag
  // (0 unchecked, 1 found, 2 parameters fetched).
  int SQL_OBJ_EXISTS(TADOStoredProc& DataSet);
};

// The process-wide data module.
TdtDbLink& dtDbLink();

// Sets DataSet's procedure; a different name also forgets the procedure check (Tag 0),
// since the layer then drops the fetched parameter list.
void SetProcedure(TADOStoredProc& DataSet, const std::string& Name);

// The OLE DB connection string from [connectionstring] of datalink.ini.
void GetConnectionString(std::string& ConnStr);
// Opens LocalDbLink with ConnStr and loads the procedure list; the linked flag becomes the
// result when the connection opened and is left alone when it did not. False at once while
// a request runs on it.
bool ConnectDatabase(const std::string& ConnStr);
// Closes Connection, sets ConnStr and connects; false (and closed) on any failure.
bool OpenConnection(TADOConnection& Connection, const std::string& ConnStr);
// Fills sqlproc_list_qry.
bool LoadProcList();
// Runs one select on Query (connecting its connection first; a failure to connect there
// reaches the caller). A failing statement closes the connection and gives false.
bool OpenQuery(TADOQuery& Query, const std::string& SqlText);
// The link check on qryTask. While a request runs on the connection there is nothing to
// check (and no way to): true.
bool CheckDbLink();
// Tries ConnStr on a temporary connection with a 1-second time-out.
bool TestLinkString(const std::string& ConnStr);

// Back to the state at program start: everything closed, nothing checked, not linked.
void ResetDbLink();

// A request is running on LocalDbLink: the program is inside its wait (the connection's
// wait hook). Connect, link check and sweep then leave the connection alone.
bool DbCallUnderWay();

// True while the linked flag is set and the connection's session is alive.
bool DbLinkUp();
// The link timer's step, run at once by a request that found the link down: the link
// check while linked (a lost session is reopened on the way), a new connect from
// datalink.ini when not. At most once in kLinkCheckGapMs, so that requests meeting a dead
// server do not each wait for it. Returns DbLinkUp() afterwards.
constexpr int64_t kLinkCheckGapMs = 2000;
bool CheckDbLinkNow();
// Told after every check CheckDbLinkNow ran (the window shows the link's state).
void SetLinkCheckedHook(std::function<void()> Hook);
// The gap's clock in steady milliseconds; empty: the real one. For tests.
void SetLinkCheckClock(std::function<int64_t()> Clock);

// The database-linked flag.
bool GetDbLinked();
void SetDbLinked(bool Linked);

// The backend's statement texts the data module runs.
std::string ProcListText(db::TBackend Backend);
std::string LinkCheckText(db::TBackend Backend);

}  // namespace qv

#include "bridge/SqlExec.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "base/Logging.h"
#include "base/ResultCodes.h"
#include "base/Settings.h"
#include "base/Text.h"
#include "bridge/DbLink.h"
#include "bridge/RecordText.h"
#include "bridge/SharePool.h"
#include "bridge/SqlBind.h"

namespace qv {
namespace {

std::string GroupOf(const std::string& Cmd) {
  std::string group;
  for (char c : Cmd)
    if (c != '-') group += c;
  return group;
}

// The procedure's outputs, each taken only when the procedure set it.
void ReadOutputs(TADOStoredProc& ds, int& iResult, std::string& strResult) {
  db::TParameter& r = ds.Parameters().ParamByName("@iResult");
  if (!r.IsNull()) iResult = r.AsInteger();
  db::TParameter& s = ds.Parameters().ParamByName("@strResult");
  if (!s.IsNull()) strResult = s.AsString();
}

// A value of this request that the backend cannot take: the request fails with
// RC_SVC_PREPARE, and the link is as good as before.
bool ValueRefused(const std::exception& e) {
  const auto* d = dynamic_cast<const db::EDatabaseError*>(&e);
  return d != nullptr && d->Kind() == db::TErrorKind::Conversion;
}

// A request that finds the link down checks it at once (rate-limited) instead of failing
// until the link timer's next tick: before it runs, so that the first request after the
// server is back is served, and after it failed on a link that broke under it, so that the
// loss is seen (and shown) at once.
void WatchLinkBefore() {
  if (!DbLinkUp()) CheckDbLinkNow();
}
void WatchLinkAfter(int result) {
  if (result != RC_OK && !DbLinkUp()) CheckDbLinkNow();
}

// Releases a pool entry when the scope ends, if asked to.
struct TReleaseGuard {
  TShareDataSetPtr entry;
  bool release = false;
  bool byFreeFlag = false;
  ~TReleaseGuard() {
    if (entry && (release || (byFreeFlag && entry->getFreeFlag()))) FreeShareData(*entry);
  }
};

}  // namespace

std::string TraceRequestText(const std::string& Cmd, std::string_view text) {
  // Field numbers of the request texts (RT-LOGIN: corp, device, user, password; RT-SETPSW:
  // old, new, operator).
  std::vector<size_t> secret;
  const std::string upper = UpperCase(Cmd);
  if (upper == "RT-LOGIN") secret = {3};
  if (upper == "RT-SETPSW") secret = {0, 1};
  if (secret.empty()) return std::string(text);
  // Fields end at commas outside double quotes; a doubled quote inside a field toggles
  // twice and so stays inside.
  std::string out;
  size_t field = 0, start = 0;
  bool quoted = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] == '"') quoted = !quoted;
    if (i < text.size() && (text[i] != ',' || quoted)) continue;
    std::string_view f = text.substr(start, i - start);
    if (std::find(secret.begin(), secret.end(), field) != secret.end())
      out += f.size() >= 2 && f.front() == '"' && f.back() == '"' ? "\"***\"" : "***";
    else
      out += f;
    if (i < text.size()) out += ',';
    ++field;
    start = i + 1;
  }
  return out;
}

int cb_Read_Data_SQLPROC(const char* strKind, int iPADNo, std::string& pDataStr, int* DataFlag,
                         std::string& strResult) {
  int result = RC_SVC_PREPARE;
  WatchLinkBefore();
  try {
    const std::string Cmd = strKind != nullptr ? strKind : "";
    WriteResultLog("iPADNo=" + std::to_string(iPADNo) + ";strKind=" + Cmd);
    TStringList list;
    try {
      const std::string text = Trim(pDataStr);
      WriteResultLog("pDataStr=" + TraceRequestText(Cmd, text));
      if (toStrings(text, &list)) {
        result = readPLUSQLProc(iPADNo, Cmd, list, pDataStr, DataFlag, strResult);
      } else {
        result = RC_SVC_CONVERT;
        WriteResultLog("toStrings() return false!");
      }
    } catch (const std::exception& e) {
      WriteErrLog(std::string("cb_Read_Data_SQLPROC Except:") + e.what());
    }
    WriteResultLog("Exec CMD \"" + Cmd + "\" Result=" + std::to_string(result));
    WriteResultLog("Read Data End With iPADNo=" + std::to_string(iPADNo) + "\r\n");
  } catch (const std::exception& e) {
    WriteErrLog(std::string("cb_Read_Data_SQLPROC Except:") + e.what());
  }
  WatchLinkAfter(result);
  return result;
}

int cb_Save_Data_SQLPROC(const char* strKind, int iPADNo, const std::string& pDataStr, std::string& strResult,
                         bool bLast) {
  int result = RC_SVC_PREPARE;
  WatchLinkBefore();
  try {
    const std::string Cmd = strKind != nullptr ? strKind : "";
    WriteResultLog("iPADNo=" + std::to_string(iPADNo) + ";strKind=" + Cmd);
    TStringList list;
    try {
      const std::string text = Trim(pDataStr);
      WriteResultLog("pDataStr=" + TraceRequestText(Cmd, text));
      if (toStrings(text, &list)) {
        result = execSQLProc(iPADNo, Cmd, list, strResult, bLast);
      } else {
        result = RC_SVC_CONVERT;
        WriteResultLog("toStrings() return false!");
      }
    } catch (const std::exception& e) {
      WriteErrLog(std::string("cb_Save_Data_SQLPROC Except:") + e.what());
    }
    WriteResultLog("Exec CMD \"" + Cmd + "\" Result=" + std::to_string(result));
    WriteResultLog("Save Data End With iPADNo=" + std::to_string(iPADNo) + "\r\n");
  } catch (const std::exception& e) {
    WriteErrLog(std::string("cb_Save_Data_SQLPROC Except:") + e.what());
  }
  WatchLinkAfter(result);
  return result;
}

int readPLUSQLProc(int iPDANo, const std::string& Cmd, TStringList& Fields, std::string& RecordText,
                   int* DataFlag, std::string& strResult) {
  int result = RC_SVC_PREPARE;
  int iResult = RC_OK;
  TReleaseGuard guard;
  if (!getShareDataset(iPDANo, GroupOf(Cmd), guard.entry)) {
    WriteResultLog("getShareDataset return false");
    return RC_SVC_NODBCONN;
  }
  // The entry's free flag decides, when the call ends, whether it goes back to the pool.
  guard.byFreeFlag = true;
  try {
    TADOStoredProc& ds = *guard.entry->getDataSet();
    int flag = -1;
    if (DataFlag != nullptr) {
      flag = *DataFlag;
    } else {
      WriteResultLog("Assigned(DataFlag) return false!");
    }
    WriteResultLog("DataFlag^=" + std::to_string(flag));

    if (flag == -1) {
      if (const int r = bindSQLProc(ds, iPDANo, Cmd, Fields, iResult, strResult); r != RC_OK) return r;
      try {
        WriteResultLog(Cmd + " Try Open SQLProc..");
        ds.Open();
        WriteResultLog("SQLProc Opened");
        ReadOutputs(ds, iResult, strResult);
        WriteResultLog("iSQLResult=" + std::to_string(iResult) + " and strResult=" + strResult);
        if (iResult != RC_OK) return iResult;
      } catch (const std::exception& e) {
        WriteErrLog(Cmd + " Try Open Except:" + e.what());
        return ValueRefused(e) ? RC_SVC_PREPARE : RC_SVC_DBOPEN;
      }
      if (!ds.Active()) {
        WriteResultLog(Cmd + " readPLUSQLProc not Active");
        guard.entry->setFreeFlag(true);
      } else if (ds.RecordCount() < 1) {
        WriteResultLog(Cmd + " readPLUSQLProc RecordCount<1");
        if (DataFlag != nullptr) *DataFlag = 0;
        guard.entry->setFreeFlag(true);
      } else {
        ds.First();
        if (!ORG_DATA_FROM_DB(ds, Cmd, result, RecordText, DataFlag)) return result;
      }
    } else {
      // A fresh entry (the old one was swept or released) has no result to continue.
      if (!ds.Active())
        throw db::EDatabaseError("Cannot perform this operation on a closed dataset", db::TErrorKind::State);
      if (ds.RecordCount() > 0) ds.Next();
      if (ds.Eof() || ds.RecordCount() < 1) {
        if (DataFlag != nullptr) *DataFlag = 0;
        guard.entry->setFreeFlag(true);
      } else if (!ORG_DATA_FROM_DB(ds, Cmd, result, RecordText, DataFlag)) {
        WriteResultLog("getdata() return false!");
        return result;
      }
    }
    result = RC_OK;
    WriteResultLog(Cmd + " End");
  } catch (const std::exception& e) {
    WriteErrLog(Cmd + " Except End:" + e.what());
    result = RC_SVC_DBOPEN;
  }
  return result;
}

int execSQLProc(int iPDANo, const std::string& Cmd, TStringList& Fields, std::string& strResult, bool bLast) {
  int result = RC_SVC_PREPARE;
  int iResult = RC_OK;
  TReleaseGuard guard;
  if (!getShareDataset(iPDANo, GroupOf(Cmd), guard.entry)) {
    WriteResultLog("getShareDataset return false strCmd=" + Cmd);
    return RC_SVC_NODBCONN;
  }
  // The upload hands its dataset back after its last record, whatever that record gave.
  guard.release = bLast;
  // After the last record nothing of this upload is left to post; a number kept beyond it
  // would be posted again (under whichever terminal uploads next) when a request arrives
  // without a poll in between.
  struct TForgetBill {
    bool forget;
    ~TForgetBill() {
      if (forget) ClearLastBillNo();
    }
  } forgetBill{bLast && getBillType(Cmd) >= 0};
  try {
    TADOStoredProc& ds = *guard.entry->getDataSet();
    if (const int r = bindSQLProc(ds, iPDANo, Cmd, Fields, iResult, strResult); r != RC_OK) return r;
    try {
      ds.ExecProc();
      WriteResultLog("SQLProc Exec");
      ReadOutputs(ds, iResult, strResult);
      WriteResultLog("iSQLResult=" + std::to_string(iResult) + " strResult=" + strResult);
      if (iResult != RC_OK) return iResult;
    } catch (const std::exception& e) {
      WriteErrLog(Cmd + " Try Exec Except:" + e.what());
      return ValueRefused(e) ? RC_SVC_PREPARE : RC_SAVEFAIL;
    }
    const int billType = getBillType(Cmd);
    if (billType >= 0) {
      const std::string billNo = Fields.at(0);
      if (bLast) {
        if (!billNo.empty()) {
          const int r = execBatBill(iPDANo, std::to_string(billType), billNo, billNo, strResult);
          if (r != RC_OK) return r;
        }
      } else {
        SetLastBillNo(billNo);
      }
    }
    result = RC_OK;
    WriteResultLog(Cmd + " End");
  } catch (const std::exception& e) {
    WriteErrLog(Cmd + " Except End:" + e.what());
    result = RC_SVC_DBOPEN;
  }
  return result;
}

int execBatBill(int iPDANo, const std::string& BillType, const std::string& BatchNo,
                const std::string& BillNo, std::string& strResult) {
  try {
    TdtDbLink& dm = dtDbLink();
    TADOStoredProc& sp = dm.spbatbill;
    sp.Close();
    SetProcedure(sp, kBatBillProc);
    if (const int r = dm.SQL_OBJ_EXISTS(sp); r != RC_OK) return r;
    sp.ParamByName(kBatBillParams[0]).SetInteger(iPDANo);
    sp.ParamByName(kBatBillParams[1]).SetString(SysSet().ShopNO);
    sp.ParamByName(kBatBillParams[2]).SetString(BillType);
    sp.ParamByName(kBatBillParams[3]).SetString(BatchNo);
    sp.ParamByName(kBatBillParams[4]).SetString(BillNo);
    sp.ParamByName(kBatBillParams[5]).SetInteger(RC_OK);
    sp.ParamByName(kBatBillParams[6]).SetString(strResult);
    try {
      WriteResultLog("Exec pda_bat_bill_inf Try Open SQLProc..");
      sp.ExecProc();
      WriteResultLog("SQLProc Exec cBillNO:" + BillNo);
      int iResult = RC_OK;
      ReadOutputs(sp, iResult, strResult);
      WriteResultLog("iSQLResult=" + std::to_string(iResult) + " strResult=" + strResult);
      if (iResult != RC_OK) return iResult;
    } catch (const std::exception& e) {
      WriteErrLog(std::string("Exec pda_bat_bill_inf Try Exec Except:") + e.what());
      return ValueRefused(e) ? RC_SVC_PREPARE : RC_SAVEFAIL;
    }
    WriteResultLog("Exec pda_bat_bill_inf End");
    return RC_OK;
  } catch (const std::exception& e) {
    WriteErrLog(std::string("Exec pda_bat_bill_inf Except End:") + e.what());
    return RC_SVC_DBOPEN;
  }
}

}  // namespace qv

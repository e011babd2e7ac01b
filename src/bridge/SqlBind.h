#pragma once
// Which stored procedure serves each command and where each of its parameters comes from.
#include <span>
#include <string>
#include <string_view>

#include "base/Fields.h"

namespace qv::db {
class TADOStoredProc;
}

namespace qv {

using db::TADOStoredProc;

enum class TBindSource {
  Terminal,     // the terminal number (integer)
  BaseStation,  // setting iBaseStationID (integer)
  ShopNo,       // setting ShopNO (text)
  Field,        // request field `index` (text)
  Integer,      // the integer `value`
  Text,         // the text `text`
  BillType,     // getBillType of the command (integer)
};

struct TBindParam {
  const char* name;
  TBindSource source;
  int value = 0;          // field index or integer constant
  const char* text = "";  // text constant
};

struct TBindRow {
  const char* strCmd;
  const char* procedure;
  std::span<const TBindParam> params;  // without @iResult and @strResult, which end every row
};

// Every binding, in the order the command name is compared against them.
std::span<const TBindRow> BindTable();
// The binding of the upper-cased command name, or nullptr.
const TBindRow* FindBindRow(std::string_view upperCmd);

// W-PDSTORE 0, W-PDOUT 1, W-PDIN 2, W-GATHER 3; -1 for any other command.
int getBillType(std::string_view Cmd);
// True for the four stocktaking document uploads.
bool IsStockUpload(std::string_view upperCmd);

// Document number of the last non-final stocktaking record saved; cleared at every good poll.
const std::string& LastBillNo();
void SetLastBillNo(const std::string& BillNo);
void ClearLastBillNo();

// Points DataSet at Cmd's procedure, checks it and fills every input parameter (0), or
// returns RC_SVC_BADCMD (no binding), the procedure check's code, the posting's code, or
// RC_SVC_DBOPEN (exception).
int bindSQLProc(TADOStoredProc& DataSet, int iPDANo, const std::string& Cmd, const TStringList& Fields,
                int& iResult, std::string& strResult);

}  // namespace qv

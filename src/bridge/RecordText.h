#pragma once
// The record text of one result row: the columns a command's terminal record is packed from,
// in order, quoted or bare, joined by commas.
#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace qv::db {
class TADOStoredProc;
}

namespace qv {

using db::TADOStoredProc;

struct TRecordColumn {
  const char* name;
  bool quoted;
};

struct TRecordFormat {
  const char* strCmd;
  std::span<const TRecordColumn> columns;
};

// Every format, in the order the command name is compared against them.
std::span<const TRecordFormat> RecordFormats();
// The format of the upper-cased command name, or nullptr.
const TRecordFormat* FindRecordFormat(std::string_view upperCmd);

// Joins the row's values (each trimmed of bytes <= ' ' at both ends) as the format says;
// quotes inside values are doubled, so that the packing's split gives every value back.
// columnText returns a column's text by name and throws when the row has no such column.
std::string BuildRecordText(const TRecordFormat& format,
                            const std::function<std::string(const char* name)>& columnText);

// Formats the current row of an open dataset for Cmd. DataFlag (when given) receives the
// row count whenever the dataset is open; ResultCode is set only on failure (RC_SVC_DBOPEN
// not open, RC_OK no rows, RC_SVC_BADCMD no format, RC_SVC_PREPARE exception); RecordText is empty on every
// failure.
bool ORG_DATA_FROM_DB(TADOStoredProc& DataSet, const std::string& Cmd, int& ResultCode,
                      std::string& RecordText, int* DataFlag);

}  // namespace qv

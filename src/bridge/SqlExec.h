#pragma once
// The doorway between the terminal protocol and the database: one row per read call, one
// record per save call. Every failure is a result code; nothing throws out of these.
#include <string>
#include <string_view>

#include "base/Fields.h"

namespace qv {

// Read requests. DataFlag in: -1 runs the procedure and returns its first row, any other
// value the next row of the result still open for this terminal and command; out: the
// row count while a row is returned, 0 when none is left (unchanged when the procedure
// gave no result set). pDataStr in: the request text; out: the row's record text.
int cb_Read_Data_SQLPROC(const char* strKind, int iPADNo, std::string& pDataStr, int* DataFlag,
                         std::string& strResult);

// Save commands, once per record in order; bLast marks the upload's last record.
int cb_Save_Data_SQLPROC(const char* strKind, int iPADNo, const std::string& pDataStr, std::string& strResult,
                         bool bLast);

// The request text as the debug trace shows it: the password fields of "RT-LOGIN"
// (cUserPsw) and "RT-SETPSW" (both passwords) read "***".
std::string TraceRequestText(const std::string& Cmd, std::string_view text);

int readPLUSQLProc(int iPDANo, const std::string& Cmd, TStringList& Fields, std::string& RecordText,
                   int* DataFlag, std::string& strResult);

int execSQLProc(int iPDANo, const std::string& Cmd, TStringList& Fields, std::string& strResult, bool bLast);

// The posting procedure and the parameters execBatBill fills (the database check reads them).
constexpr const char* kBatBillProc = "pda_bat_bill_inf";
constexpr const char* kBatBillParams[] = {"@iPDANo",  "@cShopNo", "@iBillType", "@cBatchno",
                                          "@cBillNO", "@iResult", "@strResult"};

// Posts one stocktaking document through "pda_bat_bill_inf" on the data module's spbatbill.
int execBatBill(int iPDANo, const std::string& BillType, const std::string& BatchNo,
                const std::string& BillNo, std::string& strResult);

}  // namespace qv

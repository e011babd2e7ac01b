#include "bridge/RecordText.h"

#include <exception>

#include "base/Logging.h"
#include "base/ResultCodes.h"
#include "base/Text.h"
#include "base/Fields.h"
#include "db/Db.h"

namespace qv {
namespace {

constexpr bool q = true;   // written between double quotes
constexpr bool u = false;  // written bare

constexpr TRecordColumn kShop[] = {{"cShopName", q}, {"cSetPsw", q}};
constexpr TRecordColumn kLogin[] = {{"cUserName", q}};
constexpr TRecordColumn kDept[] = {{"cSortCode", q}, {"cSortName", q}};
constexpr TRecordColumn kPlu[] = {{"cCode", q},         {"cSortCode", q},      {"cName", q},
                                  {"cUnit", q},         {"fPrice", u},         {"bGroupFlag", u},
                                  {"bNowPriceFlag", u}, {"bRecommendFlag", u}, {"bSpecFlag", u},
                                  {"cCodeIndex", q},    {"bDbUnit", u}};
constexpr TRecordColumn kPluIndex[] = {{"cCodeIndex", q}, {"cDishCode", q}};
constexpr TRecordColumn kGroup[] = {{"cGroupCode", q}, {"cGroupNo", u}, {"cDishCode", q},
                                    {"fAddPrice", u},  {"fDishQty", u}, {"fDefGroup", u}};
constexpr TRecordColumn kSpec[] = {{"cDishCode", q}, {"cSpecCode", q}, {"fPrice", u}, {"fDefSpec", u}};
constexpr TRecordColumn kMake[] = {{"cCode", q}, {"cName", q}, {"iFunValue", u}, {"fPrice", u}};
constexpr TRecordColumn kMIndex[] = {{"cIndexCode", q}, {"cMakeCode", q}};
constexpr TRecordColumn kPMake[] = {{"cDishCode", q}, {"cMakeCode", q}, {"fPrice", u}};
constexpr TRecordColumn kCodeName[] = {{"cCode", q}, {"cName", q}};
constexpr TRecordColumn kBill[] = {{"iRecNo", u},    {"cDishCode", q}, {"cDishName", q},  {"cUnit", q},
                                   {"cSpec", q},     {"fQty", u},      {"fDbQty", u},     {"fPrice", u},
                                   {"iDishFlag", u}, {"iGiftFlag", u}, {"iDishState", u}, {"iTempFlag", u},
                                   {"bDbUnit", u}};
constexpr TRecordColumn kGqList[] = {{"cDishCode", q}, {"cDishName", q}, {"cUnit", q}, {"fQty", u}};
constexpr TRecordColumn kBatch[] = {{"cBatchno", q}};
constexpr TRecordColumn kGoods[] = {{"cSupplyCode", q}, {"cStrCode", q}, {"cDefCode", q},  {"cstrName", q},
                                    {"cCodeType", u},   {"cUnit", q},    {"fQty", u},      {"fRefQty", u},
                                    {"iBillType", u},   {"fInPrice", u}, {"fSalePrice", u}};
constexpr TRecordColumn kBillList[] = {{"cBillno", q}};
constexpr TRecordColumn kBillDetail[] = {
    {"cBillno", q}, {"cStrCode", q}, {"cCode", q}, {"fQty", u}, {"fPrice", u}};
constexpr TRecordColumn kSell[] = {{"iRecNo", u},    {"cDishCode", q}, {"cDishName", q},   {"cUnit", q},
                                   {"cSpec", q},     {"fQty", u},      {"fDbQty", u},      {"fPrice", u},
                                   {"cFoodFlag", u}, {"cGiftFlag", u}, {"cStatusFlag", u}, {"cTempFlag", u},
                                   {"bDbUnit", u}};
constexpr TRecordColumn kOrg[] = {{"cStrCode", q}, {"cStrName", q}, {"cStrIndex", q}};

const TRecordFormat kFormats[] = {
    {"W-SHOP", kShop},         {"RT-LOGIN", kLogin},          {"W-DEPT", kDept},      {"W-PLU", kPlu},
    {"W-PLUINDEX", kPluIndex}, {"W-GROUP", kGroup},           {"W-SPEC", kSpec},      {"W-MAKE", kMake},
    {"W-MINDEX", kMIndex},     {"W-PMAKE", kPMake},           {"W-CAUSE", kCodeName}, {"W-DPLAN", kCodeName},
    {"RT-BILL", kBill},        {"RT-GQLIST", kGqList},        {"R-BATCH", kBatch},    {"R-GOODS", kGoods},
    {"R-BILLLIST", kBillList}, {"R-BILLDETAIL", kBillDetail}, {"RT-SELL", kSell},     {"R-VENDORINF", kOrg},
    {"R-ORGINF", kOrg},
};

}  // namespace

std::span<const TRecordFormat> RecordFormats() {
  return kFormats;
}

const TRecordFormat* FindRecordFormat(std::string_view upperCmd) {
  for (const TRecordFormat& f : kFormats)
    if (upperCmd == f.strCmd) return &f;
  return nullptr;
}

std::string BuildRecordText(const TRecordFormat& format,
                            const std::function<std::string(const char* name)>& columnText) {
  std::string text;
  bool first = true;
  for (const TRecordColumn& col : format.columns) {
    if (!first) text += ',';
    first = false;
    const std::string value = Trim(columnText(col.name));
    // The packing splits at commas and, outside quotes, at blanks and control characters;
    // a bare value holding one of those, or a quote, is written quoted so it stays whole.
    bool quote = col.quoted;
    for (char c : value)
      if (c == '"' || c == ',' || static_cast<unsigned char>(c) <= ' ') quote = true;
    text += quote ? QuotedField(value) : value;
  }
  return text;
}

bool ORG_DATA_FROM_DB(TADOStoredProc& DataSet, const std::string& Cmd, int& ResultCode,
                      std::string& RecordText, int* DataFlag) {
  std::string text;
  bool ok = false;
  try {
    if (!DataSet.Active()) {
      ResultCode = RC_SVC_DBOPEN;
    } else {
      const int count = DataSet.RecordCount();
      if (DataFlag != nullptr) *DataFlag = count;
      if (count < 1) {
        ResultCode = RC_OK;
      } else if (const TRecordFormat* format = FindRecordFormat(UpperCase(Cmd))) {
        text = BuildRecordText(*format,
                               [&DataSet](const char* name) { return DataSet.FieldByName(name).AsString(); });
        ok = true;
      } else {
        ResultCode = RC_SVC_BADCMD;
      }
    }
  } catch (const std::exception& e) {
    text.clear();
    ResultCode = RC_SVC_PREPARE;
    WriteErrLog(std::string("ORG_DATA_FROM_DB Try Except:") + e.what());
  }
  RecordText = text;
  WriteResultLog("ORG_DATA_FROM_DB str1Data=" + RecordText);
  return ok;
}

}  // namespace qv

#include "bridge/SqlBind.h"

#include <exception>

#include "base/Logging.h"
#include "base/ResultCodes.h"
#include "base/Settings.h"
#include "bridge/DbLink.h"
#include "bridge/SqlExec.h"
#include "db/Db.h"

namespace qv {
namespace {

using S = TBindSource;

constexpr TBindParam T(const char* name) {
  return {name, S::Terminal};
}
constexpr TBindParam B(const char* name) {
  return {name, S::BaseStation};
}
constexpr TBindParam Shop(const char* name) {
  return {name, S::ShopNo};
}
constexpr TBindParam F(const char* name, int k) {
  return {name, S::Field, k};
}
constexpr TBindParam I(const char* name, int n) {
  return {name, S::Integer, n};
}
constexpr TBindParam Txt(const char* name, const char* text) {
  return {name, S::Text, 0, text};
}
constexpr TBindParam K(const char* name) {
  return {name, S::BillType};
}

constexpr TBindParam kMTNo[] = {T("@iMTNo")};
constexpr TBindParam kBaseMTNo[] = {B("@sBase"), T("@iMTNo")};

constexpr TBindParam kMemu[] = {
    F("@iMTNo", 6),      F("@cTableNo", 0),   F("@cOpCode", 1),    F("@cMemo", 2),      F("@fMemoPrice", 3),
    F("@bFastFlag", 4),  F("@dtOpTime", 5),   F("@iRecCount", 7),  F("@fTotalSum", 8),  F("@iRecNo", 9),
    F("@cDishCode", 10), F("@cDishName", 11), F("@cUnit", 12),     F("@cSpec", 13),     F("@fQty", 14),
    F("@fDbQty", 15),    F("@fPrice", 16),    F("@bDishFlag", 17), F("@bGiftFlag", 18), F("@cDishState", 19),
    F("@bTempFlag", 20), F("@bDbUnit", 21)};
constexpr TBindParam kLogin[] = {T("@iMTNo"), F("@cCorpCode", 0), F("@cDevCode", 1), F("@cUserCode", 2),
                                 F("@cUserPsw", 3)};

#define QV_OP_TABLE(n)                                                                      \
  {                                                                                         \
    T("@iMTNo"), F("@cTableNo", 0), F("@iPeople", 1), F("@cWaiterCode", 2), F("@cMemo", 3), \
        F("@cOpCode", 4), I("@iOpType", n)                                                  \
  }
constexpr TBindParam kOpenTable[] = QV_OP_TABLE(0);
constexpr TBindParam kOrderTable[] = QV_OP_TABLE(1);
constexpr TBindParam kSetTable[] = QV_OP_TABLE(2);
#undef QV_OP_TABLE

constexpr TBindParam kChgTable[] = {T("@iMTNo"), F("@cTableNo", 0), F("@cDestTableNo", 1), F("@cOpCode", 2),
                                    I("@iOpType", 0)};
constexpr TBindParam kGatherTable[] = {T("@iMTNo"), F("@cTableNo", 0), F("@cDestTableNo", 1),
                                       F("@cOpCode", 2), I("@iOpType", 1)};
constexpr TBindParam kDelTable[] = {T("@iMTNo"), F("@cTableNo", 0), Txt("@cDestTableNo", ""),
                                    F("@cOpCode", 1), I("@iOpType", 2)};

// The serve, call-up and hurry procedures share one shape; @iOpType travels as text.
constexpr TBindParam kWholeTable[] = {T("@iMTNo"),           F("@cTableNo", 0), Txt("@cDishCode", ""),
                                      Txt("@cSortCode", ""), F("@cOpCode", 1),  Txt("@iOpType", "0")};
constexpr TBindParam kBySort[] = {T("@iMTNo"),        F("@cTableNo", 0), Txt("@cDishCode", ""),
                                  F("@cSortCode", 1), F("@cOpCode", 2),  Txt("@iOpType", "1")};
constexpr TBindParam kByDish[] = {T("@iMTNo"),           F("@cTableNo", 0), F("@cDishCode", 1),
                                  Txt("@cSortCode", ""), F("@cOpCode", 2),  Txt("@iOpType", "2")};

constexpr TBindParam kRetDish[] = {T("@iMTNo"),   F("@cTableNo", 0), F("@cDishCode", 1),
                                   F("@fQty", 2), F("@cReason", 3),  F("@cOpCode", 4)};
constexpr TBindParam kTableOp[] = {T("@iMTNo"), F("@cTableNo", 0), F("@cOpCode", 1)};

constexpr TBindParam kAllFree[] = {T("@iMTNo"), Txt("@cTableNo", ""), Txt("@cSortCode", ""), F("@cOpCode", 0),
                                   I("@iOpType", 0)};
constexpr TBindParam kSortFree[] = {T("@iMTNo"), Txt("@cTableNo", ""), F("@cSortCode", 0), F("@cOpCode", 1),
                                    I("@iOpType", 1)};
constexpr TBindParam kTableFree[] = {T("@iMTNo"), F("@cTableNo", 0), Txt("@cSortCode", ""), F("@cOpCode", 1),
                                     I("@iOpType", 2)};
constexpr TBindParam kAllOrder[] = {T("@iMTNo"), Txt("@cTableNo", ""), Txt("@cSortCode", ""),
                                    F("@cOpCode", 0), I("@iOpType", 3)};
constexpr TBindParam kTableOrder[] = {T("@iMTNo"), F("@cTableNo", 0), Txt("@cSortCode", ""), F("@cOpCode", 1),
                                      I("@iOpType", 4)};

constexpr TBindParam kGqList[] = {T("@iMTNo"), F("@cOpCode", 0)};
constexpr TBindParam kCopyBill[] = {T("@iMTNo"), F("@cTableNo", 0), F("@cDestTableNo", 1), F("@cOpCode", 2)};
constexpr TBindParam kDisc[] = {T("@iMTNo"),        F("@cTableNo", 0),  F("@cDiscFlag", 1),
                                F("@iDiscRate", 2), F("@cPlanCode", 3), F("@cOpCode", 4)};
constexpr TBindParam kVip[] = {T("@iMTNo"), F("@cValue", 0), F("@cOpCode", 1)};
constexpr TBindParam kWeight[] = {T("@iMTNo"),      F("@cTableNo", 0), F("@cDishCode", 1),
                                  F("@cFlowID", 2), F("@fWeight", 3),  F("@cOpCode", 4)};
constexpr TBindParam kSetPsw[] = {T("@iMTNo"), F("@cOldPsw", 0), F("@cNewPsw", 1), F("@cOpCode", 2)};

constexpr TBindParam kBatch[] = {T("@iPDANo"), Shop("@cShopNo"), Txt("@iBillType", "0")};
constexpr TBindParam kGoods[] = {T("@iPDANo"), Shop("@cShopNo"), F("@cStrCode", 0)};
constexpr TBindParam kBillInf[] = {T("@iPDANo"),         Shop("@cShopNo"),  K("@iBillType"), F("@cBillNO", 0),
                                   F("@cSupplyCode", 1), F("@cStrCode", 2), F("@fQty", 3),   F("@fPrice", 4)};
constexpr TBindParam kBillList[] = {T("@iPDANo"), Shop("@cShopNo"), F("@iBillType", 0), F("@cStrCode", 1)};
constexpr TBindParam kBillDetail[] = {T("@iPDANo"), Shop("@cShopNo"), F("@iBillType", 0), F("@cBillNo", 1)};
constexpr TBindParam kVendor[] = {T("@iPDANo"), Shop("@cShopNo"), Txt("@iType", "1")};
constexpr TBindParam kOrg[] = {T("@iPDANo"), Shop("@cShopNo"), Txt("@iType", "2")};
constexpr TBindParam kSell[] = {T("@iMTNo"), F("@cBillNo", 0), F("@cOpCode", 1)};

const TBindRow kRows[] = {
    {"W-SHOP", "MT_Get_Shop_Info", kMTNo},
    {"W-DEPT", "MT_Get_Sort_Info", kBaseMTNo},
    {"W-PLU", "MT_Get_Dish_Info", kBaseMTNo},
    {"W-PLUINDEX", "MT_Get_Code_Index", kBaseMTNo},
    {"W-GROUP", "MT_Get_Group_Info", kBaseMTNo},
    {"W-SPEC", "MT_Get_Dish_Spec", kBaseMTNo},
    {"W-MAKE", "MT_Get_Make_Info", kMTNo},
    {"W-MINDEX", "MT_Get_Make_Index", kMTNo},
    {"W-PMAKE", "MT_Get_Dish_Make", kBaseMTNo},
    {"W-CAUSE", "MT_Get_RetDish_Reason", kMTNo},
    {"W-DPLAN", "MT_Get_Disc_Plan", kMTNo},
    {"RT-MEMU", "MT_Ins_Order_Dish", kMemu},
    {"RT-LOGIN", "MT_Ins_User_Login", kLogin},
    {"RT-OPENTABLE", "MT_Ins_Op_Table", kOpenTable},
    {"RT-ORDERTABLE", "MT_Ins_Op_Table", kOrderTable},
    {"RT-SETTABLE", "MT_Ins_Op_Table", kSetTable},
    {"RT-CHGTABLE", "MT_Ins_Chg_Table", kChgTable},
    {"RT-GATHERTABLE", "MT_Ins_Chg_Table", kGatherTable},
    {"RT-DELTABLE", "MT_Ins_Chg_Table", kDelTable},
    {"RT-TABLEOUT", "MT_Ins_Dish_Out", kWholeTable},
    {"RT-SORTOUT", "MT_Ins_Dish_Out", kBySort},
    {"RT-DISHOUT", "MT_Ins_Dish_Out", kByDish},
    {"RT-TABLECALL", "MT_Ins_Dish_Call", kWholeTable},
    {"RT-SORTCALL", "MT_Ins_Dish_Call", kBySort},
    {"RT-DISHCALL", "MT_Ins_Dish_Call", kByDish},
    {"RT-TABLECPRIOR", "MT_Ins_Dish_Prior", kWholeTable},
    {"RT-SORTPRIOR", "MT_Ins_Dish_Prior", kBySort},
    {"RT-DISHPRIOR", "MT_Ins_Dish_Prior", kByDish},
    {"RT-RETDISH", "MT_Ins_Dish_Return", kRetDish},
    {"RT-BILL", "MT_Get_Bill_Query", kTableOp},
    {"RT-ALLFREE", "MT_Ins_Talbe_Query", kAllFree},
    {"RT-SORTFREE", "MT_Ins_Talbe_Query", kSortFree},
    {"RT-TABLEFREE", "MT_Ins_Talbe_Query", kTableFree},
    {"RT-ALLORDER", "MT_Ins_Talbe_Query", kAllOrder},
    {"RT-TABLEORDER", "MT_Ins_Talbe_Query", kTableOrder},
    {"RT-GQLIST", "MT_Get_Dish_GqList", kGqList},
    {"RT-PRINTBILL", "MT_Ins_Bill_Print", kTableOp},
    {"RT-COPYBILL", "MT_Ins_Bill_Copy", kCopyBill},
    {"RT-DISC", "MT_Ins_Bill_Disc", kDisc},
    {"RT-VIP", "MT_Ins_Vip_Query", kVip},
    {"RT-WEIGHT", "MT_Ins_Weight_Check", kWeight},
    {"RT-CHECK", "MT_Ins_Bill_Check", kTableOp},
    {"RT-SETPSW", "MT_Ins_Set_UserPsw", kSetPsw},
    {"R-BATCH", "pda_get_batchno_info", kBatch},
    {"R-GOODS", "pda_get_goods_info", kGoods},
    {"W-PDSTORE", "pda_ins_bill_inf", kBillInf},
    {"W-PDOUT", "pda_ins_bill_inf", kBillInf},
    {"W-PDIN", "pda_ins_bill_inf", kBillInf},
    {"W-GATHER", "pda_ins_bill_inf", kBillInf},
    {"R-BILLLIST", "pda_get_bill_list", kBillList},
    {"R-BILLDETAIL", "pda_get_bill_detail", kBillDetail},
    {"R-VENDORINF", "pda_get_org_inf", kVendor},
    {"R-ORGINF", "pda_get_org_inf", kOrg},
    {"RT-SELL", "MT_Get_Sell_Order", kSell},
};

std::string& LastBillNoSlot() {
  static std::string no;
  return no;
}

}  // namespace

std::span<const TBindRow> BindTable() {
  return kRows;
}

const TBindRow* FindBindRow(std::string_view upperCmd) {
  for (const TBindRow& row : kRows)
    if (upperCmd == row.strCmd) return &row;
  return nullptr;
}

int getBillType(std::string_view Cmd) {
  const std::string c = UpperCase(Cmd);
  if (c == "W-PDSTORE") return 0;
  if (c == "W-PDOUT") return 1;
  if (c == "W-PDIN") return 2;
  if (c == "W-GATHER") return 3;
  return -1;
}

bool IsStockUpload(std::string_view upperCmd) {
  return getBillType(upperCmd) >= 0;
}

const std::string& LastBillNo() {
  return LastBillNoSlot();
}
void SetLastBillNo(const std::string& BillNo) {
  LastBillNoSlot() = BillNo;
}
void ClearLastBillNo() {
  LastBillNoSlot().clear();
}

int bindSQLProc(TADOStoredProc& DataSet, int iPDANo, const std::string& Cmd, const TStringList& Fields,
                int& iResult, std::string& strResult) {
  try {
    DataSet.Close();
    const std::string upper = UpperCase(Cmd);
    const TBindRow* row = FindBindRow(upper);
    if (row == nullptr) return RC_SVC_BADCMD;

    const int billType = getBillType(upper);
    if (billType >= 0) {
      // A new document number means the previous document is complete: post it first.
      const std::string& billNo = Fields.at(0);
      if (!LastBillNo().empty() && LastBillNo() != billNo) {
        const std::string last = LastBillNo();
        const int r = execBatBill(iPDANo, std::to_string(billType), last, last, strResult);
        if (r != RC_OK) return r;
      }
    }

    SetProcedure(DataSet, row->procedure);
    if (const int r = dtDbLink().SQL_OBJ_EXISTS(DataSet); r != RC_OK) return r;

    const TStru_SysSet& set = SysSet();
    for (const TBindParam& p : row->params) {
      db::TParameter& param = DataSet.Parameters().ParamByName(p.name);
      switch (p.source) {
        case S::Terminal:
          param.SetInteger(iPDANo);
          break;
        case S::BaseStation:
          param.SetInteger(set.iBaseStationID);
          break;
        case S::ShopNo:
          param.SetString(set.ShopNO);
          break;
        case S::Field:
          param.SetString(Fields.at(static_cast<size_t>(p.value)));
          break;
        case S::Integer:
          param.SetInteger(p.value);
          break;
        case S::Text:
          param.SetString(p.text);
          break;
        case S::BillType:
          param.SetInteger(billType);
          break;
      }
    }
    DataSet.Parameters().ParamByName("@iResult").SetInteger(iResult);
    DataSet.Parameters().ParamByName("@strResult").SetString(strResult);
    return RC_OK;
  } catch (const std::exception& e) {
    WriteErrLog(Cmd + " Except End:" + e.what());
    return RC_SVC_DBOPEN;
  }
}

}  // namespace qv

// Every command reaches its procedure with the right values: recorder procedures with the
// demo database's own signatures store the arguments they receive.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <map>

#include "PgFixture.h"
#include "TempHome.h"
#include "base/ResultCodes.h"
#include "base/Settings.h"
#include "link/Catalogue.h"
#include "bridge/DbLink.h"
#include "bridge/SharePool.h"
#include "bridge/SqlBind.h"
#include "bridge/SqlExec.h"

namespace qv {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using Args = std::vector<std::pair<std::string, std::string>>;

struct BindCase {
  const char* cmd;
  const char* request;  // request text; field k is the k-th value
  const char* proc;
  Args args;  // without @iResult / @strResult, which every call carries
};

constexpr const char* kE = "";  // an empty text constant

// Terminal 12, base station 7, shop S01. Field values start at 50 so that they never look
// like the constants (0..4) the bindings add.
const std::vector<BindCase>& Cases() {
  static const std::vector<BindCase> cases = {
      {"W-SHOP", "", "MT_Get_Shop_Info", {{"@iMTNo", "12"}}},
      {"W-DEPT", "", "MT_Get_Sort_Info", {{"@sBase", "7"}, {"@iMTNo", "12"}}},
      {"W-PLU", "", "MT_Get_Dish_Info", {{"@sBase", "7"}, {"@iMTNo", "12"}}},
      {"W-PLUINDEX", "", "MT_Get_Code_Index", {{"@sBase", "7"}, {"@iMTNo", "12"}}},
      {"W-GROUP", "", "MT_Get_Group_Info", {{"@sBase", "7"}, {"@iMTNo", "12"}}},
      {"W-SPEC", "", "MT_Get_Dish_Spec", {{"@sBase", "7"}, {"@iMTNo", "12"}}},
      {"W-MAKE", "", "MT_Get_Make_Info", {{"@iMTNo", "12"}}},
      {"W-MINDEX", "", "MT_Get_Make_Index", {{"@iMTNo", "12"}}},
      {"W-PMAKE", "", "MT_Get_Dish_Make", {{"@sBase", "7"}, {"@iMTNo", "12"}}},
      {"W-CAUSE", "", "MT_Get_RetDish_Reason", {{"@iMTNo", "12"}}},
      {"W-DPLAN", "", "MT_Get_Disc_Plan", {{"@iMTNo", "12"}}},
      {"RT-MEMU",
       R"("A1","OP1","memo",2.5,1,"20240102030405","77",3,99.5,1,"D01","鱼","份","大",1.5,0,12.5,0,1,2,0,1)",
       "MT_Ins_Order_Dish",
       {{"@iMTNo", "77"},
        {"@cTableNo", "A1"},
        {"@cOpCode", "OP1"},
        {"@cMemo", "memo"},
        {"@fMemoPrice", "2.5"},
        {"@bFastFlag", "1"},
        {"@dtOpTime", "20240102030405"},
        {"@iRecCount", "3"},
        {"@fTotalSum", "99.5"},
        {"@iRecNo", "1"},
        {"@cDishCode", "D01"},
        {"@cDishName", "鱼"},
        {"@cUnit", "份"},
        {"@cSpec", "大"},
        {"@fQty", "1.5"},
        {"@fDbQty", "0"},
        {"@fPrice", "12.5"},
        {"@bDishFlag", "0"},
        {"@bGiftFlag", "1"},
        {"@cDishState", "2"},
        {"@bTempFlag", "0"},
        {"@bDbUnit", "1"}}},
      {"RT-LOGIN",
       R"("C1","DEV1","U1","PSW")",
       "MT_Ins_User_Login",
       {{"@iMTNo", "12"},
        {"@cCorpCode", "C1"},
        {"@cDevCode", "DEV1"},
        {"@cUserCode", "U1"},
        {"@cUserPsw", "PSW"}}},
      {"RT-OPENTABLE",
       R"("A1","4","W1","m","OP1")",
       "MT_Ins_Op_Table",
       {{"@iMTNo", "12"},
        {"@cTableNo", "A1"},
        {"@iPeople", "4"},
        {"@cWaiterCode", "W1"},
        {"@cMemo", "m"},
        {"@cOpCode", "OP1"},
        {"@iOpType", "0"}}},
      {"RT-ORDERTABLE",
       R"("A1","4","W1","m","OP1")",
       "MT_Ins_Op_Table",
       {{"@iMTNo", "12"},
        {"@cTableNo", "A1"},
        {"@iPeople", "4"},
        {"@cWaiterCode", "W1"},
        {"@cMemo", "m"},
        {"@cOpCode", "OP1"},
        {"@iOpType", "1"}}},
      {"RT-SETTABLE",
       R"("A1","4","W1","m","OP1")",
       "MT_Ins_Op_Table",
       {{"@iMTNo", "12"},
        {"@cTableNo", "A1"},
        {"@iPeople", "4"},
        {"@cWaiterCode", "W1"},
        {"@cMemo", "m"},
        {"@cOpCode", "OP1"},
        {"@iOpType", "2"}}},
      {"RT-CHGTABLE",
       R"("A1","B2","OP1")",
       "MT_Ins_Chg_Table",
       {{"@iMTNo", "12"},
        {"@cTableNo", "A1"},
        {"@cDestTableNo", "B2"},
        {"@cOpCode", "OP1"},
        {"@iOpType", "0"}}},
      {"RT-GATHERTABLE",
       R"("A1","B2","OP1")",
       "MT_Ins_Chg_Table",
       {{"@iMTNo", "12"},
        {"@cTableNo", "A1"},
        {"@cDestTableNo", "B2"},
        {"@cOpCode", "OP1"},
        {"@iOpType", "1"}}},
      {"RT-DELTABLE",
       R"("A1","OP1")",
       "MT_Ins_Chg_Table",
       {{"@iMTNo", "12"},
        {"@cTableNo", "A1"},
        {"@cDestTableNo", kE},
        {"@cOpCode", "OP1"},
        {"@iOpType", "2"}}},
  };
  static std::vector<BindCase> all = [] {
    std::vector<BindCase> v = cases;
    // Serve, call up and hurry share their shapes.
    const char* shapes[][4] = {{"RT-TABLEOUT", "RT-SORTOUT", "RT-DISHOUT", "MT_Ins_Dish_Out"},
                               {"RT-TABLECALL", "RT-SORTCALL", "RT-DISHCALL", "MT_Ins_Dish_Call"},
                               {"RT-TABLECPRIOR", "RT-SORTPRIOR", "RT-DISHPRIOR", "MT_Ins_Dish_Prior"}};
    for (const auto& s : shapes) {
      v.push_back({s[0],
                   R"("A1","OP1")",
                   s[3],
                   {{"@iMTNo", "12"},
                    {"@cTableNo", "A1"},
                    {"@cDishCode", kE},
                    {"@cSortCode", kE},
                    {"@cOpCode", "OP1"},
                    {"@iOpType", "0"}}});
      v.push_back({s[1],
                   R"("A1","S1","OP1")",
                   s[3],
                   {{"@iMTNo", "12"},
                    {"@cTableNo", "A1"},
                    {"@cDishCode", kE},
                    {"@cSortCode", "S1"},
                    {"@cOpCode", "OP1"},
                    {"@iOpType", "1"}}});
      v.push_back({s[2],
                   R"("A1","D01","OP1")",
                   s[3],
                   {{"@iMTNo", "12"},
                    {"@cTableNo", "A1"},
                    {"@cDishCode", "D01"},
                    {"@cSortCode", kE},
                    {"@cOpCode", "OP1"},
                    {"@iOpType", "2"}}});
    }
    const std::vector<BindCase> rest = {
        {"RT-RETDISH",
         R"("A1","D01",1.5,"cold","OP1")",
         "MT_Ins_Dish_Return",
         {{"@iMTNo", "12"},
          {"@cTableNo", "A1"},
          {"@cDishCode", "D01"},
          {"@fQty", "1.5"},
          {"@cReason", "cold"},
          {"@cOpCode", "OP1"}}},
        {"RT-BILL",
         R"(A1,"OP1")",
         "MT_Get_Bill_Query",
         {{"@iMTNo", "12"}, {"@cTableNo", "A1"}, {"@cOpCode", "OP1"}}},
        {"RT-ALLFREE",
         R"("OP1")",
         "MT_Ins_Talbe_Query",
         {{"@iMTNo", "12"}, {"@cTableNo", kE}, {"@cSortCode", kE}, {"@cOpCode", "OP1"}, {"@iOpType", "0"}}},
        {"RT-SORTFREE",
         R"("S1","OP1")",
         "MT_Ins_Talbe_Query",
         {{"@iMTNo", "12"}, {"@cTableNo", kE}, {"@cSortCode", "S1"}, {"@cOpCode", "OP1"}, {"@iOpType", "1"}}},
        {"RT-TABLEFREE",
         R"("A1","OP1")",
         "MT_Ins_Talbe_Query",
         {{"@iMTNo", "12"}, {"@cTableNo", "A1"}, {"@cSortCode", kE}, {"@cOpCode", "OP1"}, {"@iOpType", "2"}}},
        {"RT-ALLORDER",
         R"("OP1")",
         "MT_Ins_Talbe_Query",
         {{"@iMTNo", "12"}, {"@cTableNo", kE}, {"@cSortCode", kE}, {"@cOpCode", "OP1"}, {"@iOpType", "3"}}},
        {"RT-TABLEORDER",
         R"("A1","OP1")",
         "MT_Ins_Talbe_Query",
         {{"@iMTNo", "12"}, {"@cTableNo", "A1"}, {"@cSortCode", kE}, {"@cOpCode", "OP1"}, {"@iOpType", "4"}}},
        {"RT-GQLIST", "OP1", "MT_Get_Dish_GqList", {{"@iMTNo", "12"}, {"@cOpCode", "OP1"}}},
        {"RT-PRINTBILL",
         R"("A1","OP1")",
         "MT_Ins_Bill_Print",
         {{"@iMTNo", "12"}, {"@cTableNo", "A1"}, {"@cOpCode", "OP1"}}},
        {"RT-COPYBILL",
         R"("A1","B2","OP1")",
         "MT_Ins_Bill_Copy",
         {{"@iMTNo", "12"}, {"@cTableNo", "A1"}, {"@cDestTableNo", "B2"}, {"@cOpCode", "OP1"}}},
        {"RT-DISC",
         R"("A1",1,90,"P01","OP1")",
         "MT_Ins_Bill_Disc",
         {{"@iMTNo", "12"},
          {"@cTableNo", "A1"},
          {"@cDiscFlag", "1"},
          {"@iDiscRate", "90"},
          {"@cPlanCode", "P01"},
          {"@cOpCode", "OP1"}}},
        // Quotes, backslashes and statement separators reach the procedure as plain text.
        {"RT-VIP",
         R"x("V'1\;--)","OP1")x",
         "MT_Ins_Vip_Query",
         {{"@iMTNo", "12"}, {"@cValue", "V'1\\;--)"}, {"@cOpCode", "OP1"}}},
        {"RT-WEIGHT",
         R"("A1","D01","F1",2.25,"OP1")",
         "MT_Ins_Weight_Check",
         {{"@iMTNo", "12"},
          {"@cTableNo", "A1"},
          {"@cDishCode", "D01"},
          {"@cFlowID", "F1"},
          {"@fWeight", "2.25"},
          {"@cOpCode", "OP1"}}},
        {"RT-CHECK",
         R"("A1","OP1")",
         "MT_Ins_Bill_Check",
         {{"@iMTNo", "12"}, {"@cTableNo", "A1"}, {"@cOpCode", "OP1"}}},
        {"RT-SETPSW",
         R"("OLD","NEW","OP1")",
         "MT_Ins_Set_UserPsw",
         {{"@iMTNo", "12"}, {"@cOldPsw", "OLD"}, {"@cNewPsw", "NEW"}, {"@cOpCode", "OP1"}}},
        {"R-BATCH",
         R"("ignored")",
         "pda_get_batchno_info",
         {{"@iPDANo", "12"}, {"@cShopNo", "S01"}, {"@iBillType", "0"}}},
        {"R-GOODS",
         "6901234",
         "pda_get_goods_info",
         {{"@iPDANo", "12"}, {"@cShopNo", "S01"}, {"@cStrCode", "6901234"}}},
        {"R-BILLLIST",
         R"(2,"ORG1")",
         "pda_get_bill_list",
         {{"@iPDANo", "12"}, {"@cShopNo", "S01"}, {"@iBillType", "2"}, {"@cStrCode", "ORG1"}}},
        {"R-BILLDETAIL",
         R"(1,"B0001")",
         "pda_get_bill_detail",
         {{"@iPDANo", "12"}, {"@cShopNo", "S01"}, {"@iBillType", "1"}, {"@cBillNo", "B0001"}}},
        {"R-VENDORINF", "", "pda_get_org_inf", {{"@iPDANo", "12"}, {"@cShopNo", "S01"}, {"@iType", "1"}}},
        {"R-ORGINF", "", "pda_get_org_inf", {{"@iPDANo", "12"}, {"@cShopNo", "S01"}, {"@iType", "2"}}},
        {"RT-SELL",
         R"("B0001","OP1")",
         "MT_Get_Sell_Order",
         {{"@iMTNo", "12"}, {"@cBillNo", "B0001"}, {"@cOpCode", "OP1"}}},
    };
    v.insert(v.end(), rest.begin(), rest.end());
    const char* stock[] = {"W-PDSTORE", "W-PDOUT", "W-PDIN", "W-GATHER"};
    for (int k = 0; k < 4; ++k)
      v.push_back({stock[k],
                   R"("B0001","SUP1","6901234",2.5,12.00)",
                   "pda_ins_bill_inf",
                   {{"@iPDANo", "12"},
                    {"@cShopNo", "S01"},
                    {"@iBillType", std::to_string(k)},
                    {"@cBillNO", "B0001"},
                    {"@cSupplyCode", "SUP1"},
                    {"@cStrCode", "6901234"},
                    {"@fQty", "2.5"},
                    {"@fPrice", "12.00"}}});
    return v;
  }();
  return all;
}

class BindDbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QV_NEED_PG();
    demo = std::make_unique<test::SqlSession>(test::DemoConnStr());
    pdb = std::make_unique<test::PrivateDb>();
    SysSet().iBaseStationID = 7;
    SysSet().ShopNO = "S01";
  }
  void TearDown() override {
    FreeShareDataSetList();
    ResetDbLink();
    ClearLastBillNo();
  }
  test::TTempHome home{test::kWithTrace};
  std::unique_ptr<test::SqlSession> demo;
  std::unique_ptr<test::PrivateDb> pdb;
};

// Numbers come back in the declared type's own text form (numeric 12.00 stays "12.00", a
// float 12.00 is "12"); compare numbers by value.
bool SameValue(const std::string& got, const std::string& want) {
  if (got == want) return true;
  char* e1 = nullptr;
  char* e2 = nullptr;
  const double a = std::strtod(got.c_str(), &e1);
  const double b = std::strtod(want.c_str(), &e2);
  return !got.empty() && !want.empty() && *e1 == '\0' && *e2 == '\0' && a == b;
}

TEST_F(BindDbTest, EveryCommandReachesItsProcedureWithItsValues) {
  std::vector<std::string> procs;
  for (const BindCase& c : Cases()) procs.push_back(c.proc);
  procs.push_back("pda_bat_bill_inf");
  std::sort(procs.begin(), procs.end());
  procs.erase(std::unique(procs.begin(), procs.end()), procs.end());
  for (const std::string& p : procs) test::CreateRecorder(*demo, pdb->Sql(), p);
  ASSERT_TRUE(ConnectDatabase(pdb->ConnStr()));

  // Every bound command of the catalogue is in the table.
  size_t bound = 0;
  for (const TStru_CmdList& c : CmdList()) bound += FindBindRow(c.strCmd) != nullptr;
  EXPECT_EQ(bound, Cases().size());
  EXPECT_EQ(BindTable().size(), Cases().size());

  for (const BindCase& c : Cases()) {
    SCOPED_TRACE(c.cmd);
    pdb->Sql().Exec("truncate calls");
    ClearLastBillNo();
    const TStru_CmdList* cmd = GetCmdByName(c.cmd);
    ASSERT_NE(cmd, nullptr);
    std::string text = c.request;
    std::string strResult = "prev";
    int r;
    if (cmd->bRetData) {
      int flag = -1;
      r = cb_Read_Data_SQLPROC(c.cmd, 12, text, &flag, strResult);
      EXPECT_EQ(flag, 0);  // the recorders answer with an empty result
    } else {
      r = cb_Save_Data_SQLPROC(c.cmd, 12, text, strResult, false);
    }
    ASSERT_EQ(r, RC_OK) << (home.ErrLog().empty() ? "" : home.ErrLog().back());
    const auto calls = test::RecordedCalls(pdb->Sql());
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].proc, c.proc);
    Args want = c.args;
    want.emplace_back("@iResult", "0");
    want.emplace_back("@strResult", "prev");
    std::sort(want.begin(), want.end());
    ASSERT_EQ(calls[0].args.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(calls[0].args[i].first, want[i].first);
      EXPECT_TRUE(SameValue(calls[0].args[i].second, want[i].second))
          << want[i].first << ": got " << calls[0].args[i].second << ", want " << want[i].second;
    }
    FreeShareDataSetList();
  }
}

TEST_F(BindDbTest, NameIsUpperCasedAndUnknownNamesAreRefused) {
  test::CreateRecorder(*demo, pdb->Sql(), "MT_Ins_User_Login");
  ASSERT_TRUE(ConnectDatabase(pdb->ConnStr()));
  db::TADOStoredProc ds(&dtDbLink().LocalDbLink);
  int iResult = RC_OK;
  std::string strResult;
  EXPECT_EQ(bindSQLProc(ds, 3, "rt-login", {"C", "D", "U", "P"}, iResult, strResult), RC_OK);
  EXPECT_EQ(ds.ProcedureName(), "MT_Ins_User_Login");
  EXPECT_EQ(ds.ParamByName("@cUserPsw").AsString(), "P");
  EXPECT_EQ(ds.ParamByName("@iMTNo").AsInteger(), 3);
  EXPECT_EQ(ds.Tag(), 2);

  db::TADOStoredProc other(&dtDbLink().LocalDbLink);
  for (const char* name : {"W-DOWNZK", "RTLOGIN", " RT-LOGIN", ""})
    EXPECT_EQ(bindSQLProc(other, 3, name, {}, iResult, strResult), RC_SVC_BADCMD) << name;
  EXPECT_EQ(other.ProcedureName(), "");  // no database access at all
}

TEST_F(BindDbTest, MissingFieldGivesEightAndLogs) {
  test::CreateRecorder(*demo, pdb->Sql(), "MT_Ins_Order_Dish");
  ASSERT_TRUE(ConnectDatabase(pdb->ConnStr()));
  db::TADOStoredProc ds(&dtDbLink().LocalDbLink);
  int iResult = RC_OK;
  std::string strResult;
  TStringList fields;
  for (int k = 0; k < 21; ++k) fields.push_back(std::to_string(k));
  fields[5] = "20240102030405";
  EXPECT_EQ(bindSQLProc(ds, 3, "RT-MEMU", fields, iResult, strResult), RC_SVC_DBOPEN);
  ASSERT_FALSE(home.ErrLog().empty());
  EXPECT_THAT(home.ErrLog().back(), HasSubstr("RT-MEMU Except End:"));
  EXPECT_FALSE(ds.Active());
  fields.push_back("1");
  EXPECT_EQ(bindSQLProc(ds, 3, "RT-MEMU", fields, iResult, strResult), RC_OK);
}

// The demo database's own document procedures: an upload carrying two documents leaves
// each posted exactly once.
TEST_F(BindDbTest, DemoUploadOfTwoDocumentsPostsEachOnce) {
  const std::string shop = demo->Scalar("select shop_code from shop where is_current");
  const auto goods = demo->Query("select goods_code from goods order by goods_code limit 2");
  ASSERT_FALSE(shop.empty());
  ASSERT_EQ(goods.size(), 2u);
  SysSet().ShopNO = shop;
  const int terminal = 9000 + static_cast<int>(getpid() % 1000);
  const std::string tag = "T" + std::to_string(getpid());
  const std::string docA = tag + "A", docB = tag + "B";
  const std::string cleanup = "delete from stock_bill where terminal_no = " + std::to_string(terminal) +
                              " and bill_no like '" + tag + "%'";
  demo->Exec(cleanup);
  ASSERT_TRUE(ConnectDatabase(test::DemoConnStr()));

  std::string result;
  auto save = [&](const std::string& doc, const std::string& code, bool last) {
    return cb_Save_Data_SQLPROC("W-GATHER", terminal, "\"" + doc + "\",\"\",\"" + code + "\",2,1.50", result,
                                last);
  };
  EXPECT_EQ(save(docA, goods[0][0], false), RC_OK) << result;
  EXPECT_EQ(save(docA, goods[1][0], false), RC_OK) << result;
  EXPECT_EQ(save(docB, goods[0][0], false), RC_OK) << result;
  EXPECT_EQ(save(docB, goods[1][0], true), RC_OK) << result;

  const auto rows = demo->Query(
      "select b.bill_no, b.post_count::text, b.state::text,"
      " (select count(*) from stock_post_log l where l.bill_id = b.bill_id)::text,"
      " (select count(*) from stock_bill_line l where l.bill_id = b.bill_id)::text"
      " from stock_bill b where b.terminal_no = " +
      std::to_string(terminal) + " and b.bill_no like '" + tag + "%' order by b.bill_no");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_THAT(rows[0], ElementsAreArray(
                           {docA, std::string("1"), std::string("1"), std::string("1"), std::string("2")}));
  EXPECT_THAT(rows[1], ElementsAreArray(
                           {docB, std::string("1"), std::string("1"), std::string("1"), std::string("2")}));
  demo->Exec(cleanup);
}

}  // namespace
}  // namespace qv

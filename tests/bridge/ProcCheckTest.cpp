// The database check against a SQL Server played by the scripted TDS responder (the real
// FreeTDS driver through unixODBC): every procedure of the binding table is declared with
// the parameters it is called with, and the reading procedures' result columns are described
// as a test case says.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "../db/TdsResponder.h"
#include "bridge/DbLink.h"
#include "bridge/ProcCheck.h"
#include "bridge/RecordText.h"
#include "bridge/SqlBind.h"
#include "bridge/SqlExec.h"

using namespace qv;
using namespace qv::test;

namespace {

constexpr int kInt = 4, kVarChar = 12, kParamIn = 1, kParamInOut = 2, kReturn = 5;

// How the server answers the description of one procedure's first result set.
struct TDescribe {
  std::vector<std::string> columns;  // described columns; a "-" prefix marks one hidden
  std::optional<std::string> error;  // the server's error instead
};

class ProcCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every procedure as the service calls it, and every reading procedure's result with
    // exactly the columns its record format reads.
    for (const TBindRow& row : BindTable()) {
      std::vector<std::string>& params = procs_[row.procedure];
      for (const TBindParam& p : row.params) Add(params, p.name);
      if (const TRecordFormat* f = FindRecordFormat(row.strCmd))
        for (const TRecordColumn& c : f->columns) described_[row.procedure].columns.push_back(c.name);
    }
    for (auto& [name, params] : procs_) params.insert(params.end(), {"@iResult", "@strResult"});
    for (const char* p : kBatBillParams) Add(procs_[kBatBillProc], p);
    for (auto& [name, params] : procs_) {
      std::vector<TdsProcParam>& decl = decl_[name];
      decl.push_back({"@RETURN_VALUE", kReturn, kInt, "int", 10, 4, 0});
      for (const std::string& p : params) {
        const bool result = p == "@iResult" || p == "@strResult";
        const bool number = p == "@iResult";
        decl.push_back({p, result ? kParamInOut : kParamIn, number ? kInt : kVarChar,
                        number ? "int" : "varchar", number ? 10 : 20, number ? 4 : 20, 0});
      }
    }
    srv_.SetHandler([this](const TdsRequest& r) { return Answer(r); });
  }

  void TearDown() override { ResetDbLink(); }

  static void Add(std::vector<std::string>& list, const std::string& name) {
    for (const std::string& n : list)
      if (n == name) return;
    list.push_back(name);
  }

  TdsAction Answer(const TdsRequest& r) {
    TdsReply rep;
    if (r.What == TdsRequest::Batch && r.Sql.find("sysobjects") != std::string::npos) {
      rep.Columns({{"name", TdsType::VarChar(128)}});
      for (const auto& p : decl_) rep.Row({p.first});
      return TdsAction::Answer(rep.Done(0xFD, 0x10, decl_.size()));
    }
    const std::string call = "exec sp_describe_first_result_set N'EXEC [";
    if (r.What == TdsRequest::Batch && r.Sql.rfind(call, 0) == 0) {
      const std::string proc = r.Sql.substr(call.size(), r.Sql.find(']') - call.size());
      std::lock_guard<std::mutex> l(mu_);
      described_sql_[proc] = r.Sql;
      const TDescribe& d = described_[proc];
      if (d.error) return TdsAction::Answer(rep.Error(11529, 16, *d.error).Done(0xFD, 0x02));
      rep.Columns({{"is_hidden", TdsType::Bit()},
                   {"column_ordinal", TdsType::Int()},
                   {"name", TdsType::NVarChar(128)},
                   {"system_type_name", TdsType::NVarChar(256)}});
      int ordinal = 0;
      for (const std::string& c : d.columns) {
        const bool hidden = c.starts_with('-');
        rep.Row({hidden ? "1" : "0", std::to_string(++ordinal), hidden ? c.substr(1) : c, "varchar(20)"});
      }
      return TdsAction::Answer(rep.Done(0xFD, 0x10, d.columns.size()));
    }
    return TdsAction::Answer(rep.Done(r.What == TdsRequest::Rpc ? 0xFE : 0xFD, 0));
  }

  int Check(std::string& out) {
    if (!declared_)
      for (const auto& [name, decl] : decl_) srv_.DeclareProc(name, decl);
    declared_ = true;
    return CheckDatabase(srv_.OdbcString(), [&out](const std::string& line) { out += line + "\n"; });
  }

  std::map<std::string, std::vector<std::string>> procs_;  // procedure -> the parameters it is called with
  std::map<std::string, std::vector<TdsProcParam>> decl_;  // as the server declares it, changed before Check
  bool declared_ = false;
  std::mutex mu_;
  std::map<std::string, TDescribe> described_;
  std::map<std::string, std::string> described_sql_;
  TdsResponder srv_;
};

TEST_F(ProcCheck, DescribedColumnsAreComparedWithTheRecordFormat) {
  // MT_Get_Shop_Info answers W-SHOP, whose records read cShopName and cSetPsw.
  const struct {
    const char* what;
    TDescribe shop;
    int status;
    const char* line;
  } cases[] = {
      {"exactly the format's columns", {{"cShopName", "cSetPsw"}, {}}, kCheckOk, "MT_Get_Shop_Info: ok\n"},
      {"more columns, other order, other case",
       {{"cShopNo", "CSETPSW", "cshopname"}, {}},
       kCheckOk,
       "MT_Get_Shop_Info: ok\n"},
      {"one column lacking",
       {{"cShopName", "cShopNo"}, {}},
       kCheckProblems,
       "MT_Get_Shop_Info: column cSetPsw missing\n"},
      {"the column there only hidden",
       {{"cShopName", "-cSetPsw"}, {}},
       kCheckProblems,
       "MT_Get_Shop_Info: column cSetPsw missing\n"},
      {"both lacking",
       {{"cName"}, {}},
       kCheckProblems,
       "MT_Get_Shop_Info: column cShopName missing\nMT_Get_Shop_Info: column cSetPsw missing\n"},
      {"no result set at all", {{}, {}}, kCheckProblems, "MT_Get_Shop_Info: returns no result set\n"},
      {"a server without the describing procedure",
       {{}, "Could not find stored procedure 'sp_describe_first_result_set'."},
       kCheckOk,
       "MT_Get_Shop_Info: ok (columns not checked: Could not find stored procedure "
       "'sp_describe_first_result_set'.)\n"},
      {"a reason over two lines, kept on the procedure's line",
       {{}, "Invalid object name\n'shop_info'."},
       kCheckOk,
       "MT_Get_Shop_Info: ok (columns not checked: Invalid object name 'shop_info'.)\n"},
      {"a result that cannot be known without running, in many words",
       {{},
        "The metadata could not be determined because statement 'insert into #shop select * from "
        "shop_info' in procedure 'MT_Get_Shop_Info' uses a temp table."},
       kCheckOk,
       "MT_Get_Shop_Info: ok (columns not checked)\n"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    {
      std::lock_guard<std::mutex> l(mu_);
      described_["MT_Get_Shop_Info"] = k.shop;
    }
    std::string out;
    EXPECT_EQ(Check(out), k.status) << out;
    EXPECT_NE(out.find(k.line), std::string::npos) << out;
    // every other reading procedure is described with its own columns, and says ok
    EXPECT_NE(out.find("MT_Get_Bill_Query: ok\n"), std::string::npos) << out;
    EXPECT_NE(out.find("pda_get_org_inf: ok\n"), std::string::npos) << out;
    const bool ok = k.status == kCheckOk;
    EXPECT_NE(out.find(ok ? "37 procedures checked: 37 ok, 0 with problems\n"
                          : "37 procedures checked: 36 ok, 1 with problems\n"),
              std::string::npos)
        << out;
  }
}

TEST_F(ProcCheck, DescribedCallDeclaresTheProceduresOwnParameters) {
  // Parameter problems and column problems of one procedure are both named; the described
  // call is the one the server declares (a text of unlimited length included).
  decl_["MT_Get_Sort_Info"] = {{"@RETURN_VALUE", kReturn, kInt, "int", 10, 4, 0},
                               {"@iMTNo", kParamIn, kInt, "int", 10, 4, 0},
                               {"@cShopNo", kParamIn, kVarChar, "varchar", 0, 0, 0},
                               {"@iResult", kParamInOut, kInt, "int", 10, 4, 0},
                               {"@strResult", kParamInOut, kVarChar, "varchar", 100, 100, 0}};
  described_["MT_Get_Sort_Info"].columns = {"cSortCode"};
  std::string out;
  EXPECT_EQ(Check(out), kCheckProblems) << out;
  EXPECT_NE(out.find("MT_Get_Sort_Info: parameter @sBase missing\n"
                     "MT_Get_Sort_Info: extra parameter @cShopNo\n"
                     "MT_Get_Sort_Info: column cSortName missing\n"),
            std::string::npos)
      << out;
  std::lock_guard<std::mutex> l(mu_);
  EXPECT_EQ(described_sql_["MT_Get_Sort_Info"],
            "exec sp_describe_first_result_set N'EXEC [MT_Get_Sort_Info] @iMTNo = @iMTNo, @cShopNo = "
            "@cShopNo, @iResult = @iResult OUTPUT, @strResult = @strResult OUTPUT', N'@iMTNo int, "
            "@cShopNo varchar(max), @iResult int OUTPUT, @strResult varchar(100) OUTPUT'");
  // a procedure that reads nothing is never described
  EXPECT_EQ(described_sql_.count("MT_Ins_Order_Dish"), 0u);
}

}  // namespace

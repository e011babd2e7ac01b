#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "bridge/RecordText.h"
#include "link/RecordPack.h"

namespace qv {
namespace {

struct FormatCase {
  const char* cmd;
  const char* text;  // each column's value is its own name
};

// Written out by hand from the record layouts the terminals pack.
const FormatCase kFormatCases[] = {
    {"W-SHOP", R"("cShopName","cSetPsw")"},
    {"RT-LOGIN", R"("cUserName")"},
    {"W-DEPT", R"("cSortCode","cSortName")"},
    {"W-PLU",
     R"("cCode","cSortCode","cName","cUnit",fPrice,bGroupFlag,bNowPriceFlag,bRecommendFlag,bSpecFlag,"cCodeIndex",bDbUnit)"},
    {"W-PLUINDEX", R"("cCodeIndex","cDishCode")"},
    {"W-GROUP", R"("cGroupCode",cGroupNo,"cDishCode",fAddPrice,fDishQty,fDefGroup)"},
    {"W-SPEC", R"("cDishCode","cSpecCode",fPrice,fDefSpec)"},
    {"W-MAKE", R"("cCode","cName",iFunValue,fPrice)"},
    {"W-MINDEX", R"("cIndexCode","cMakeCode")"},
    {"W-PMAKE", R"("cDishCode","cMakeCode",fPrice)"},
    {"W-CAUSE", R"("cCode","cName")"},
    {"W-DPLAN", R"("cCode","cName")"},
    {"RT-BILL",
     R"(iRecNo,"cDishCode","cDishName","cUnit","cSpec",fQty,fDbQty,fPrice,iDishFlag,iGiftFlag,iDishState,iTempFlag,bDbUnit)"},
    {"RT-GQLIST", R"("cDishCode","cDishName","cUnit",fQty)"},
    {"R-BATCH", R"("cBatchno")"},
    {"R-GOODS",
     R"("cSupplyCode","cStrCode","cDefCode","cstrName",cCodeType,"cUnit",fQty,fRefQty,iBillType,fInPrice,fSalePrice)"},
    {"R-BILLLIST", R"("cBillno")"},
    {"R-BILLDETAIL", R"("cBillno","cStrCode","cCode",fQty,fPrice)"},
    {"RT-SELL",
     R"(iRecNo,"cDishCode","cDishName","cUnit","cSpec",fQty,fDbQty,fPrice,cFoodFlag,cGiftFlag,cStatusFlag,cTempFlag,bDbUnit)"},
    {"R-VENDORINF", R"("cStrCode","cStrName","cStrIndex")"},
    {"R-ORGINF", R"("cStrCode","cStrName","cStrIndex")"},
};

class RecordFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RecordFormatTest, ColumnsOrderAndQuoting) {
  const TRecordFormat* f = FindRecordFormat(GetParam().cmd);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(BuildRecordText(*f, [](const char* name) { return std::string(name); }), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecordFormatTest, ::testing::ValuesIn(kFormatCases));

TEST(RecordFormat, EveryFormatIsCovered) {
  EXPECT_EQ(RecordFormats().size(), std::size(kFormatCases));
}

TEST(RecordFormat, CommandsWithoutFormat) {
  for (const char* cmd : {"W-DOWNZK", "RT-MEMU", "W-PDIN", "w-dept", "WDEPT", ""})
    EXPECT_EQ(FindRecordFormat(cmd), nullptr) << cmd;
}

// Values are trimmed; a quote inside a quoted value is doubled, and a bare value that holds
// a quote, a comma or a blank is written quoted, so that the row split gives every value back.
TEST(RecordFormat, ValuesAreTrimmedAndEscapedWhereTheSplitNeedsIt) {
  const std::map<std::string, std::string> row = {{"cSortCode", " 01\t"}, {"cSortName", "凉菜  "}};
  auto col = [&row](const char* name) { return row.at(name); };
  EXPECT_EQ(BuildRecordText(*FindRecordFormat("W-DEPT"), col), "\"01\",\"凉菜\"");

  const std::map<std::string, std::string> plu = {
      {"cCode", "001"},   {"cSortCode", "   "},  {"cName", "a,\"b"},     {"cUnit", ""},
      {"fPrice", "12.5"}, {"bGroupFlag", ""},    {"bNowPriceFlag", "0"}, {"bRecommendFlag", "1"},
      {"bSpecFlag", "0"}, {"cCodeIndex", "x,y"}, {"bDbUnit", "1,2"}};
  EXPECT_EQ(BuildRecordText(*FindRecordFormat("W-PLU"), [&plu](const char* name) { return plu.at(name); }),
            R"("001","","a,""b","",12.5,,0,1,0,"x,y","1,2")");

  const std::map<std::string, std::string> gq = {
      {"cDishCode", "\"\""}, {"cDishName", "Pizza 12\",thin"}, {"cUnit", "份"}, {"fQty", " 1 5 "}};
  EXPECT_EQ(BuildRecordText(*FindRecordFormat("RT-GQLIST"), [&gq](const char* name) { return gq.at(name); }),
            R"("""""","Pizza 12"",thin","份","1 5")");
}

TEST(RecordFormat, MissingColumnThrows) {
  EXPECT_THROW(BuildRecordText(*FindRecordFormat("W-SHOP"),
                               [](const char*) -> std::string { throw std::runtime_error("x"); }),
               std::runtime_error);
}

// What the database holds comes back to the packing unchanged: quotes, commas and blanks
// inside values survive the record text and its split.
TEST(RowSplit, RecordTextsRoundTrip) {
  const std::map<std::string, std::string> row = {
      {"iRecNo", "3"},    {"cDishCode", "T\"1"}, {"cDishName", "Pizza 12\",thin"},
      {"cUnit", "\""},    {"cSpec", "a b, c"},   {"fQty", "1 5"},
      {"fDbQty", "0"},    {"fPrice", "45,5"},    {"iDishFlag", "\"1\""},
      {"iGiftFlag", "0"}, {"iDishState", ""},    {"iTempFlag", "1"},
      {"bDbUnit", "0"}};
  const std::string text =
      BuildRecordText(*FindRecordFormat("RT-BILL"), [&row](const char* name) { return row.at(name); });
  const std::vector<std::string> expected = {
      "3", "T\"1", "Pizza 12\",thin", "\"", "a b, c", "1 5", "0", "45,5", "\"1\"", "0", "", "1", "0"};
  EXPECT_EQ(SplitRowText(text), expected) << text;
}

}  // namespace
}  // namespace qv

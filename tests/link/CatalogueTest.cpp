#include <gtest/gtest.h>

#include <set>

#include "link/Catalogue.h"

namespace qv {
namespace {

TEST(Catalogue, FiftyFiveRows) {
  ASSERT_EQ(CmdList().size(), 55u);
  std::set<uint16_t> codes;
  std::set<std::string> names;
  for (const TStru_CmdList& e : CmdList()) {
    EXPECT_EQ(e.iOverTime, 200) << e.strCmd;
    EXPECT_NE(e.FrameCount, 0) << e.strCmd;
    EXPECT_NE(e.CmdCode, 0x5245) << e.strCmd;  // "ER"
    EXPECT_NE(e.CmdCode, 0x5457) << e.strCmd;  // "WT"
    codes.insert(e.CmdCode);
    names.insert(e.strCmd);
  }
  EXPECT_EQ(codes.size(), 55u);
  EXPECT_EQ(names.size(), 55u);
  EXPECT_EQ(CmdList().front().strCmd, "W-SHOP");
  EXPECT_EQ(CmdList().back().strCmd, "R-ORGINF");
}

TEST(Catalogue, ByCode) {
  struct Case {
    uint16_t code;
    const char* cmd;
    const char* name;
    int frames;
    bool rt, ret;
  };
  const Case cases[] = {
      {0x0201, "W-SHOP", "下传酒店名称", 1, false, true},
      {0x0401, "W-PLU", "下传菜品信息", 4, false, true},
      {0x0501, "W-PLUINDEX", "下传菜品助记码", 15, false, true},
      {0x0C01, "W-DPLAN", "下传折扣方案", 10, false, true},
      {0x0104, "RT-MEMU", "点菜单", 1, true, false},
      {0x0204, "RT-LOGIN", "登陆", 1, true, true},
      {0x1304, "RT-BILL", "查账单", 3, false, true},
      {0x1904, "RT-GQLIST", "查沽清", 4, false, true},
      {0x2104, "RT-SELL", "获取点菜单", 4, false, true},
      {0x0D01, "W-DOWNZK", "下传字库", 1, false, true},
      {0xA000, "R-BATCH", "获取盘点批号", 5, false, true},
      {0xA500, "R-GOODS", "查询商品信息", 1, true, true},
      {0xA100, "W-PDSTORE", "上传盘点单", 4, false, false},
      {0xA400, "W-GATHER", "上传采集单", 4, false, false},
      {0xA900, "R-ORGINF", "获取机构", 2, false, true},
  };
  for (const Case& c : cases) {
    const TStru_CmdList* e = GetCmdByCode(c.code);
    ASSERT_NE(e, nullptr) << c.cmd;
    EXPECT_EQ(e->strCmd, c.cmd);
    EXPECT_EQ(e->strName, c.name);
    EXPECT_EQ(e->FrameCount, c.frames) << c.cmd;
    EXPECT_EQ(e->RtFlag, c.rt) << c.cmd;
    EXPECT_EQ(e->bRetData, c.ret) << c.cmd;
    TStru_CmdList copy;
    ASSERT_TRUE(GetCmdByCode(copy, c.code));
    EXPECT_EQ(copy.strCmd, c.cmd);
  }
}

TEST(Catalogue, ByName) {
  struct Case {
    const char* name;
    int code;  // -1: not found
  };
  const Case cases[] = {
      {"W-PLU", 0x0401}, {"w-plu", 0x0401},      {"Rt-Bill", 0x1304},  {"R-BATCH", 0xA000},
      {"WPLU", -1},      {" W-PLU", -1},         {"W-PLU ", -1},       {"W-PL", -1},
      {"", -1},          {"W-PLUINDEX", 0x0501}, {"r-orginf", 0xA900},
  };
  for (const Case& c : cases) {
    const TStru_CmdList* e = GetCmdByName(c.name);
    if (c.code < 0) {
      EXPECT_EQ(e, nullptr) << c.name;
    } else {
      ASSERT_NE(e, nullptr) << c.name;
      EXPECT_EQ(e->CmdCode, c.code) << c.name;
    }
  }
}

TEST(Catalogue, NotFoundLeavesEntryUntouched) {
  for (uint16_t code : {0x5245, 0x5457, 0x0000, 0xFFFF, 0x2204}) {
    EXPECT_EQ(GetCmdByCode(code), nullptr) << code;
    TStru_CmdList e;
    e.strCmd = "keep";
    EXPECT_FALSE(GetCmdByCode(e, code));
    EXPECT_EQ(e.strCmd, "keep");
  }
  TStru_CmdList e;
  e.strCmd = "keep";
  EXPECT_FALSE(GetCmdByName(e, "NOPE"));
  EXPECT_EQ(e.strCmd, "keep");
  EXPECT_TRUE(GetCmdByName(e, "rt-login"));
  EXPECT_EQ(e.strCmd, "RT-LOGIN");
  EXPECT_EQ(e.CmdCode, 0x0204);
}

}  // namespace
}  // namespace qv

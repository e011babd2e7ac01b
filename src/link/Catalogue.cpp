#include "link/Catalogue.h"

#include <array>

#include "base/Text.h"

namespace qv {
namespace {

struct Row {
  const char* strCmd;
  uint16_t CmdCode;
  const char* strName;
  uint8_t FrameCount;
  bool RtFlag;
  bool bRetData;
};

constexpr std::array<Row, 55> kRows{{
    {"W-SHOP", 0x0201, "下传酒店名称", 1, false, true},
    {"W-DEPT", 0x0301, "下传菜品分类", 10, false, true},
    {"W-PLU", 0x0401, "下传菜品信息", 4, false, true},
    {"W-PLUINDEX", 0x0501, "下传菜品助记码", 15, false, true},
    {"W-GROUP", 0x0601, "下传套菜明细", 4, false, true},
    {"W-SPEC", 0x0701, "下传菜品规格", 10, false, true},
    {"W-MAKE", 0x0801, "下传做法信息", 8, false, true},
    {"W-MINDEX", 0x0901, "下传做法助记码", 15, false, true},
    {"W-PMAKE", 0x0A01, "下传私有做法", 7, false, true},
    {"W-CAUSE", 0x0B01, "下传退菜原因", 10, false, true},
    {"W-DPLAN", 0x0C01, "下传折扣方案", 10, false, true},
    {"RT-MEMU", 0x0104, "点菜单", 1, true, false},
    {"RT-LOGIN", 0x0204, "登陆", 1, true, true},
    {"RT-OPENTABLE", 0x0304, "开台", 1, true, false},
    {"RT-ORDERTABLE", 0x0404, "预订台", 1, true, false},
    {"RT-SETTABLE", 0x0504, "修改台头", 1, true, false},
    {"RT-CHGTABLE", 0x0604, "换台", 1, true, false},
    {"RT-GATHERTABLE", 0x0704, "并台", 1, true, false},
    {"RT-DELTABLE", 0x0804, "撤台", 1, true, false},
    {"RT-TABLEOUT", 0x0904, "整桌出品", 1, true, false},
    {"RT-SORTOUT", 0x0A04, "分类出品", 1, true, false},
    {"RT-DISHOUT", 0x0B04, "单品出品", 1, true, false},
    {"RT-TABLECALL", 0x0C04, "整桌叫起", 1, true, false},
    {"RT-SORTCALL", 0x0D04, "分类叫起", 1, true, false},
    {"RT-DISHCALL", 0x0E04, "单品叫起", 1, true, false},
    {"RT-TABLECPRIOR", 0x0F04, "整桌催菜", 1, true, false},
    {"RT-SORTPRIOR", 0x1004, "分类催菜", 1, true, false},
    {"RT-DISHPRIOR", 0x1104, "单品催菜", 1, true, false},
    {"RT-RETDISH", 0x1204, "退菜", 1, true, false},
    {"RT-BILL", 0x1304, "查账单", 3, false, true},
    {"RT-ALLFREE", 0x1404, "查所有空台", 1, true, false},
    {"RT-SORTFREE", 0x1504, "分类查空台", 1, true, false},
    {"RT-TABLEFREE", 0x1604, "台号查空台", 1, true, false},
    {"RT-ALLORDER", 0x1704, "查所有预订台", 1, true, false},
    {"RT-TABLEORDER", 0x1804, "台号查预订", 1, true, false},
    {"RT-GQLIST", 0x1904, "查沽清", 4, false, true},
    {"RT-PRINTBILL", 0x1A04, "预打帐单", 1, true, false},
    {"RT-COPYBILL", 0x1B04, "帐单复制", 1, true, false},
    {"RT-DISC", 0x1C04, "打折", 1, true, false},
    {"RT-VIP", 0x1D04, "会员查询", 1, true, false},
    {"RT-WEIGHT", 0x1E04, "重量确认", 1, true, false},
    {"RT-CHECK", 0x1F04, "结账", 1, true, false},
    {"RT-SETPSW", 0x2004, "修改密码", 1, true, false},
    {"RT-SELL", 0x2104, "获取点菜单", 4, false, true},
    {"W-DOWNZK", 0x0D01, "下传字库", 1, false, true},
    {"R-BATCH", 0xA000, "获取盘点批号", 5, false, true},
    {"R-GOODS", 0xA500, "查询商品信息", 1, true, true},
    {"W-PDSTORE", 0xA100, "上传盘点单", 4, false, false},
    {"W-PDOUT", 0xA200, "上传出库单", 4, false, false},
    {"W-PDIN", 0xA300, "上传入库单", 4, false, false},
    {"W-GATHER", 0xA400, "上传采集单", 4, false, false},
    {"R-BILLLIST", 0xA600, "获取单据列表", 10, false, true},
    {"R-BILLDETAIL", 0xA700, "获取单据明细", 3, false, true},
    {"R-VENDORINF", 0xA800, "获取供应商", 2, false, true},
    {"R-ORGINF", 0xA900, "获取机构", 2, false, true},
}};

// Built on first use, so that lookups from other static initialisers are safe.
const std::array<TStru_CmdList, kRows.size()>& Table() {
  static const auto table = [] {
    std::array<TStru_CmdList, kRows.size()> t;
    for (size_t i = 0; i < kRows.size(); ++i) {
      const Row& r = kRows[i];
      t[i] = TStru_CmdList{r.strCmd, r.CmdCode, 200, r.strName, r.FrameCount, r.RtFlag, r.bRetData};
    }
    return t;
  }();
  return table;
}

}  // namespace

std::span<const TStru_CmdList> CmdList() {
  return Table();
}

const TStru_CmdList* GetCmdByCode(uint16_t Code) {
  for (const TStru_CmdList& e : Table())
    if (e.CmdCode == Code) return &e;
  return nullptr;
}

const TStru_CmdList* GetCmdByName(std::string_view Name) {
  for (const TStru_CmdList& e : Table())
    if (SameText(e.strCmd, Name)) return &e;
  return nullptr;
}

bool GetCmdByCode(TStru_CmdList& Entry, uint16_t Code) {
  const TStru_CmdList* e = GetCmdByCode(Code);
  if (e) Entry = *e;
  return e != nullptr;
}

bool GetCmdByName(TStru_CmdList& Entry, std::string_view Name) {
  const TStru_CmdList* e = GetCmdByName(Name);
  if (e) Entry = *e;
  return e != nullptr;
}

}  // namespace qv

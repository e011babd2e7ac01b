#include <gtest/gtest.h>

#include "base/ResultCodes.h"

namespace qv {
namespace {

TEST(iErrToStr, EveryCodeOfTheTable) {
  // Terminals know the codes by number: a name must never change its number.
  const struct {
    int32_t number;
    int32_t code;
    const char* text;
  } named[] = {
      {0, RC_OK, "返回OK"},
      {1, RC_BADPSW, "通迅密码错误"},
      {2, RC_BADCMD, "通讯命令有错"},
      {3, RC_CLIENTCLOSED, "前台主动断开连接"},
      {4, RC_SVC_BADCMD, "命令有错(服务程序)"},
      {5, RC_SVC_CONVERT, "数据转换错误(服务程序)"},
      {6, RC_SVC_PREPARE, "数据组织异常(服务程序)"},
      {7, RC_SVC_NODBCONN, "申请数据库连接失败(服务程序)"},
      {8, RC_SVC_DBOPEN, "打开数据库失败(服务程序)"},
      {9, RC_BADFORMAT, "数据格式出错"},
      {10, RC_SAVEFAIL, "保存数据出现异常"},
      {11, RC_PROCCHECK, "校对存储过程异常"},
      {12, RC_NOPROC, "缺少对应的存储过程"},
      {13, RC_PARAMREFRESH, "刷新存储过程参数失败"},
      {14, RC_BASEBUSY, "基站忙"},
      {15, RC_CHECKFAIL, "数据校验错"},
      {17, RC_TIMEOUT, "通迅超时"},
      {18, RC_SENDFAIL, "数据发送失败"},
      {19, RC_NODATA, "无有效数据"},
      {20, RC_KRDL_BUFFER, "提供的缓存空间(buffer)大小不足(KRDL)"},
      {21, RC_KRDL_FAIL, "数据层返回失败!(KRDL)"},
      {22, RC_KRDL_NOLINK, "通迅未链接(KRDL)"},
      {51, RC_TERM_DATA, "通讯数据错"},
      {52, RC_TERM_TIMEOUT, "通讯超时"},
      {53, RC_TERM_BADPSW, "通讯密码错"},
      {54, RC_TERM_BASEBUSY, "基站忙"},
      {55, RC_TERM_BADANSWER, "通讯应答错"},
      {56, RC_TERM_NOREADY, "接收不到READY包"},
      {57, RC_TERM_BASENOTREADY, "基站未就绪"},
      {58, RC_TERM_CRC, "CRC错误"},
      {59, RC_TERM_BADCMD, "通讯命令错"},
      {60, RC_TERM_CLOSEFAIL, "关闭联机失败"},
      {61, RC_TERM_FRAME, "通讯帧错误"},
      {62, RC_TERM_FORMAT, "数据格式错"},
      {63, RC_TERM_EMPTY, "通讯数据为空"},
      {64, RC_TERM_FRAMENO, "帧序号错"},
      {65, RC_TERM_FLASH, "FLASH编程错误"},
      {66, RC_TERM_FULL, "数据满"},
      {67, RC_TERM_NOEND, "未收到结束帧"},
      {68, RC_TERM_CANCEL, "用户中断"},
      {101, RC_STOCK_BILLTYPE, "单据类型有误"},
      {102, RC_STOCK_NOBATCH, "没有要下载盘点批次"},
      {103, RC_STOCK_NOBILLNO, "单据号不能为空"},
      {104, RC_STOCK_NOGOODS, "商品编码不能为空"},
      {105, RC_STOCK_UNKNOWNGOODS, "对应的产品库没有该商品编码"},
      {106, RC_STOCK_BADQTY, "数量不是有效的数字"},
      {107, RC_STOCK_TEMPTABLE, "生成临时表出错"},
      {108, RC_STOCK_NOBATCHNO, "批号不能空"},
      {109, RC_STOCK_NOSUCHBATCH, "盘点批次不存在"},
      {110, RC_STOCK_BATCHAPPROVED, "盘点批次已经审核"},
      {111, RC_STOCK_DETAIL, "生成了盘点单明细出错"},
      {112, RC_STOCK_HEADER, "生成了盘点单主信息出错"},
      {113, RC_STOCK_NOSHOP, "请设置无线服务程序的门店代号"},
      {114, RC_STOCK_BADSHOP, "设置门店代号非法"},
  };
  for (const auto& row : named) {
    EXPECT_EQ(row.code, row.number) << row.text;
    EXPECT_EQ(iErrToStr(row.code), row.text) << row.number;
  }
  const struct {
    int32_t code;
    const char* text;
  } table[] = {
      // No text of their own.
      {16, "未知错误:16"}, {-1, "未知错误:-1"},   {23, "未知错误:23"},   {50, "未知错误:50"},
      {69, "未知错误:69"}, {100, "未知错误:100"}, {115, "未知错误:115"}, {256 + 14, "未知错误:270"},
  };
  for (const auto& row : table) EXPECT_EQ(iErrToStr(row.code), row.text) << row.code;
}

}  // namespace
}  // namespace qv

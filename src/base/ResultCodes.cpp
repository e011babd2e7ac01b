#include "base/ResultCodes.h"

namespace qv {
namespace {

struct TCodeText {
  int32_t iCode;
  const char* strText;
};

// Codes 17 and 52, and 1 and 53, differ in their second character (通迅 / 通讯) on purpose.
constexpr TCodeText kTexts[] = {
    {RC_OK, "返回OK"},
    {RC_BADPSW, "通迅密码错误"},
    {RC_BADCMD, "通讯命令有错"},
    {RC_CLIENTCLOSED, "前台主动断开连接"},
    {RC_SVC_BADCMD, "命令有错(服务程序)"},
    {RC_SVC_CONVERT, "数据转换错误(服务程序)"},
    {RC_SVC_PREPARE, "数据组织异常(服务程序)"},
    {RC_SVC_NODBCONN, "申请数据库连接失败(服务程序)"},
    {RC_SVC_DBOPEN, "打开数据库失败(服务程序)"},
    {RC_BADFORMAT, "数据格式出错"},
    {RC_SAVEFAIL, "保存数据出现异常"},
    {RC_PROCCHECK, "校对存储过程异常"},
    {RC_NOPROC, "缺少对应的存储过程"},
    {RC_PARAMREFRESH, "刷新存储过程参数失败"},
    {RC_BASEBUSY, "基站忙"},
    {RC_CHECKFAIL, "数据校验错"},
    {RC_TIMEOUT, "通迅超时"},
    {RC_SENDFAIL, "数据发送失败"},
    {RC_NODATA, "无有效数据"},
    {RC_KRDL_BUFFER, "提供的缓存空间(buffer)大小不足(KRDL)"},
    {RC_KRDL_FAIL, "数据层返回失败!(KRDL)"},
    {RC_KRDL_NOLINK, "通迅未链接(KRDL)"},
    {RC_TERM_DATA, "通讯数据错"},
    {RC_TERM_TIMEOUT, "通讯超时"},
    {RC_TERM_BADPSW, "通讯密码错"},
    {RC_TERM_BASEBUSY, "基站忙"},
    {RC_TERM_BADANSWER, "通讯应答错"},
    {RC_TERM_NOREADY, "接收不到READY包"},
    {RC_TERM_BASENOTREADY, "基站未就绪"},
    {RC_TERM_CRC, "CRC错误"},
    {RC_TERM_BADCMD, "通讯命令错"},
    {RC_TERM_CLOSEFAIL, "关闭联机失败"},
    {RC_TERM_FRAME, "通讯帧错误"},
    {RC_TERM_FORMAT, "数据格式错"},
    {RC_TERM_EMPTY, "通讯数据为空"},
    {RC_TERM_FRAMENO, "帧序号错"},
    {RC_TERM_FLASH, "FLASH编程错误"},
    {RC_TERM_FULL, "数据满"},
    {RC_TERM_NOEND, "未收到结束帧"},
    {RC_TERM_CANCEL, "用户中断"},
    {RC_STOCK_BILLTYPE, "单据类型有误"},
    {RC_STOCK_NOBATCH, "没有要下载盘点批次"},
    {RC_STOCK_NOBILLNO, "单据号不能为空"},
    {RC_STOCK_NOGOODS, "商品编码不能为空"},
    {RC_STOCK_UNKNOWNGOODS, "对应的产品库没有该商品编码"},
    {RC_STOCK_BADQTY, "数量不是有效的数字"},
    {RC_STOCK_TEMPTABLE, "生成临时表出错"},
    {RC_STOCK_NOBATCHNO, "批号不能空"},
    {RC_STOCK_NOSUCHBATCH, "盘点批次不存在"},
    {RC_STOCK_BATCHAPPROVED, "盘点批次已经审核"},
    {RC_STOCK_DETAIL, "生成了盘点单明细出错"},
    {RC_STOCK_HEADER, "生成了盘点单主信息出错"},
    {RC_STOCK_NOSHOP, "请设置无线服务程序的门店代号"},
    {RC_STOCK_BADSHOP, "设置门店代号非法"},
};

}  // namespace

std::string iErrToStr(int32_t iCode) {
  for (const TCodeText& t : kTexts)
    if (t.iCode == iCode) return t.strText;
  return "未知错误:" + std::to_string(iCode);
}

}  // namespace qv

#pragma once
// One signed 32-bit code space for every outcome of the link and the bridge; 0 = success.
// Only the low byte travels in "ER" frames, so a code keeps its number for good: terminals
// in the field know them by number.
#include <cstdint>
#include <string>

namespace qv {

constexpr int32_t RC_OK = 0;            // "返回OK"
constexpr int32_t RC_BADPSW = 1;        // "通迅密码错误": poll and call answers
constexpr int32_t RC_BADCMD = 2;        // "通讯命令有错": no record layout, unexpected answer
constexpr int32_t RC_CLIENTCLOSED = 3;  // "前台主动断开连接"; never produced here
constexpr int32_t RC_SVC_BADCMD = 4;    // "命令有错(服务程序)": no packing or binding for the command
constexpr int32_t RC_SVC_CONVERT = 5;   // "数据转换错误(服务程序)": request text, order time
constexpr int32_t RC_SVC_PREPARE = 6;  // "数据组织异常(服务程序)": exceptions while packing or converting
constexpr int32_t RC_SVC_NODBCONN = 7;  // "申请数据库连接失败(服务程序)": no pooled dataset
constexpr int32_t RC_SVC_DBOPEN = 8;    // "打开数据库失败(服务程序)": the procedure failed to open
constexpr int32_t RC_BADFORMAT = 9;     // "数据格式出错": upload without payload or whole records
constexpr int32_t RC_SAVEFAIL = 10;     // "保存数据出现异常": a saving procedure failed
constexpr int32_t RC_PROCCHECK = 11;    // "校对存储过程异常": the procedure list is not usable
constexpr int32_t RC_NOPROC = 12;       // "缺少对应的存储过程"
constexpr int32_t RC_PARAMREFRESH = 13;  // "刷新存储过程参数失败"
constexpr int32_t RC_BASEBUSY = 14;      // "基站忙": another terminal cut in
constexpr int32_t RC_CHECKFAIL = 15;     // "数据校验错"; never produced here
constexpr int32_t RC_TIMEOUT = 17;       // "通迅超时": every wait
constexpr int32_t RC_SENDFAIL = 18;      // "数据发送失败": a refused port write
constexpr int32_t RC_NODATA = 19;        // "无有效数据": upload frame with empty payload
// Codes of the terminals' radio layer; never produced here.
constexpr int32_t RC_KRDL_BUFFER = 20;  // "提供的缓存空间(buffer)大小不足(KRDL)"
constexpr int32_t RC_KRDL_FAIL = 21;    // "数据层返回失败!(KRDL)"
constexpr int32_t RC_KRDL_NOLINK = 22;  // "通迅未链接(KRDL)"
// Reported by terminals in their own "ER" frames.
constexpr int32_t RC_TERM_DATA = 51;          // "通讯数据错"
constexpr int32_t RC_TERM_TIMEOUT = 52;       // "通讯超时"
constexpr int32_t RC_TERM_BADPSW = 53;        // "通讯密码错"
constexpr int32_t RC_TERM_BASEBUSY = 54;      // "基站忙"
constexpr int32_t RC_TERM_BADANSWER = 55;     // "通讯应答错"
constexpr int32_t RC_TERM_NOREADY = 56;       // "接收不到READY包"
constexpr int32_t RC_TERM_BASENOTREADY = 57;  // "基站未就绪"
constexpr int32_t RC_TERM_CRC = 58;           // "CRC错误"
constexpr int32_t RC_TERM_BADCMD = 59;        // "通讯命令错"
constexpr int32_t RC_TERM_CLOSEFAIL = 60;     // "关闭联机失败"
constexpr int32_t RC_TERM_FRAME = 61;         // "通讯帧错误"
constexpr int32_t RC_TERM_FORMAT = 62;        // "数据格式错"
constexpr int32_t RC_TERM_EMPTY = 63;         // "通讯数据为空"
constexpr int32_t RC_TERM_FRAMENO = 64;       // "帧序号错"
constexpr int32_t RC_TERM_FLASH = 65;         // "FLASH编程错误"
constexpr int32_t RC_TERM_FULL = 66;          // "数据满"
constexpr int32_t RC_TERM_NOEND = 67;         // "未收到结束帧"
constexpr int32_t RC_TERM_CANCEL = 68;        // "用户中断"
// Returned by the stocktaking procedures.
constexpr int32_t RC_STOCK_BILLTYPE = 101;       // "单据类型有误"
constexpr int32_t RC_STOCK_NOBATCH = 102;        // "没有要下载盘点批次"
constexpr int32_t RC_STOCK_NOBILLNO = 103;       // "单据号不能为空"
constexpr int32_t RC_STOCK_NOGOODS = 104;        // "商品编码不能为空"
constexpr int32_t RC_STOCK_UNKNOWNGOODS = 105;   // "对应的产品库没有该商品编码"
constexpr int32_t RC_STOCK_BADQTY = 106;         // "数量不是有效的数字"
constexpr int32_t RC_STOCK_TEMPTABLE = 107;      // "生成临时表出错"
constexpr int32_t RC_STOCK_NOBATCHNO = 108;      // "批号不能空"
constexpr int32_t RC_STOCK_NOSUCHBATCH = 109;    // "盘点批次不存在"
constexpr int32_t RC_STOCK_BATCHAPPROVED = 110;  // "盘点批次已经审核"
constexpr int32_t RC_STOCK_DETAIL = 111;         // "生成了盘点单明细出错"
constexpr int32_t RC_STOCK_HEADER = 112;         // "生成了盘点单主信息出错"
constexpr int32_t RC_STOCK_NOSHOP = 113;         // "请设置无线服务程序的门店代号"
constexpr int32_t RC_STOCK_BADSHOP = 114;        // "设置门店代号非法"

// The operator-facing text of a code (UTF-8); "未知错误:" and the code for any other.
std::string iErrToStr(int32_t iCode);

}  // namespace qv

#pragma once
// The installer's own texts: captions, status lines and messages, in UTF-8.
namespace qv::installer {

inline constexpr const char kTitleInfo[] = "信息提示";
inline constexpr const char kTitleWarning[] = "警告";
inline constexpr const char kTitleCreate[] = "数据库创建程序";

// The input check, in its order.
inline constexpr const char kNeedDbName[] = "您必需输入要创建的数据库名称！";
inline constexpr const char kBadDbName[] =
    "数据库名称只能由英文字母、数字和下划线组成，须以字母或下划线开头，最多50个字符！";
inline constexpr const char kNeedServer[] = "服务器名称/IP不能为空";
inline constexpr const char kNoDataFile[] = "安装所需要的数据库文件不存在!";
inline constexpr const char kNoLogFile[] = "安装所需要的数据库日志文件不存在!";
inline constexpr const char kNeedDirectory[] = "请输入数据库文件存放目录";

// Installing.
inline constexpr const char kChecking[] = "检测连接服务器...";
inline constexpr const char kConnected[] = "连接服务器成功!";
inline constexpr const char kReplaceHead[] = "数据库名:";
inline constexpr const char kReplaceTail[] = "已经安装，如果继续，原有数据将会被替换！确定是否继续?";
inline constexpr const char kInstalling[] = "安装数据库...";
inline constexpr const char kCopyFailed[] = "复制文件失败!";
inline constexpr const char kInstalled[] = "数据库安装成功!";
inline constexpr const char kCreated[] = "创建数据库成功!";
inline constexpr const char kCreateFailed[] = "创建数据库失败!";
inline constexpr const char kConnectFailed[] = "连接服务器失败，请检查服务器配置是否正确!";

// Testing the connection.
inline constexpr const char kTestOk[] = "测试连接成功";
inline constexpr const char kTestFailed[] = "测试连接失败!";

// The database types of the type list, by index.
inline constexpr const char* kDbTypes[] = {"MS-SQLSERVER", "MS-SQLSERVER 2005"};

}  // namespace qv::installer

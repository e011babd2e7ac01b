// Installing on SQL Server: no server runs here, so the statement sequence runs against a
// recording fake of the session interface that keeps databases and their files as a server
// would (attach, rename, drop deletes the files).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "Support.h"
#include "TempHome.h"
#include "installer/core/Install.h"
#include "installer/core/Texts.h"

namespace qv::test {
namespace {

using namespace qv::installer;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string kOpen =
    "open Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=master;User ID=sa;Password=pw;"
    "Data Source=shop-db timeout=10";
const std::string kExists = "query SELECT * FROM sysdatabases WHERE name = ? ";
const std::string kFiles = "query SELECT RTRIM(filename) FROM master.dbo.sysaltfiles";
const std::string kAttach = "exec EXEC sp_attach_db @dbname = ?, @filename1 = ?, @filename2 = ? ";
const std::string kRename = "exec EXEC sp_renamedb ?, ? ";

class SqlServerInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    shipped.SetUp(SetupText("vqcydata.mdf", "vqcydata_log.ldf"));
    shipped.Put("Data/vqcydata.mdf", "new data");
    shipped.Put("Data/vqcydata_log.ldf", "new log");
    params.Server = "shop-db";
    params.Password = "pw";
    params.Directory = target.Dir().substr(0, target.Dir().size() - 1);  // no separator typed
    env.ShippedDir = shipped.Dir();
    env.NewSession = FakeSessions(server);
  }
  void TearDown() override { EXPECT_EQ(server.Open, 0) << "a session was left open"; }

  TInstallResult Run() { return Install(params, ReadSetupIni(shipped.Dir()), env, ui).Result; }
  std::string D(const std::string& Name) const { return target.Path(Name); }
  // The shop's database as the last installation left it, its files in the target folder.
  void OldDatabase() {
    target.Put("vqcydata.mdf", "old data");
    target.Put("vqcydata_log.ldf", "old log");
    server.Databases["vqcydata"] = {D("vqcydata.mdf"), D("vqcydata_log.ldf")};
  }
  bool Saved() const { return home.Exists("datalink.ini"); }

  TTempHome home;
  TShipped shipped;
  TTempDir target;
  TFakeServer server;
  TRecordingUi ui;
  TDbParams params;
  TInstallerEnv env;
};

TEST_F(SqlServerInstall, FreshDatabase) {
  EXPECT_EQ(Run(), TInstallResult::Installed);
  EXPECT_THAT(server.Log,
              ElementsAre(kOpen, kExists + "[vqcydata]", kFiles,
                          kAttach + "[vqcydata | " + D("vqcydata.mdf") + " | " + D("vqcydata_log.ldf") + "]",
                          "close"));
  EXPECT_THAT(ui.Seen,
              ElementsAre("status: 检测连接服务器...", "status: 连接服务器成功!", "status: 安装数据库...",
                          "status: 数据库安装成功!", "box 信息提示 none: 创建数据库成功!"));
  EXPECT_EQ(target.Slurp("vqcydata.mdf"), "new data");
  EXPECT_TRUE(Saved());
}

// The old database keeps its name and its files until the new one is attached; the new
// files go beside the ones the old database holds open.
TEST_F(SqlServerInstall, ReplaceSwapsOnlyWhenTheNewOneIsIn) {
  OldDatabase();
  EXPECT_EQ(Run(), TInstallResult::Installed);
  EXPECT_THAT(
      server.Log,
      ElementsAre(
          kOpen, kExists + "[vqcydata]", kExists + "[vqcydata_brinmoor_new]", kFiles,
          kAttach + "[vqcydata_brinmoor_new | " + D("vqcydata_1.mdf") + " | " + D("vqcydata_log_1.ldf") + "]",
          kRename + "[vqcydata | vqcydata_brinmoor_old]", kRename + "[vqcydata_brinmoor_new | vqcydata]",
          "exec DROP DATABASE [vqcydata_brinmoor_old]", "close"));
  EXPECT_EQ(ui.Seen.at(2),
            "ask 警告: 数据库名:vqcydata已经安装，如果继续，原有数据将会被替换！确定是否继续?");
  ASSERT_EQ(server.Databases.size(), 1u);
  EXPECT_THAT(server.Databases["vqcydata"], ElementsAre(D("vqcydata_1.mdf"), D("vqcydata_log_1.ldf")));
  EXPECT_EQ(target.Slurp("vqcydata_1.mdf"), "new data");
  EXPECT_FALSE(std::filesystem::exists(D("vqcydata.mdf"))) << "dropped with the old database";

  // The next replacement finds the first names free again.
  server.Log.clear();
  EXPECT_EQ(Run(), TInstallResult::Installed);
  EXPECT_THAT(server.Databases["vqcydata"], ElementsAre(D("vqcydata.mdf"), D("vqcydata_log.ldf")));
}

// Every way a replacement can fail after the question leaves the old database under its
// name with its files and data, and nothing of the new one behind.
TEST_F(SqlServerInstall, FailedReplacementKeepsTheOldDatabase) {
  const struct {
    const char* what;
    std::string failing;  // the log line that fails
    TInstallResult result;
    std::string message;
  } cases[] = {
      {"attach", kAttach, TInstallResult::CreateFailed, "box 数据库创建程序 none: 创建数据库失败!"},
      {"old in use", kRename + "[vqcydata | vqcydata_brinmoor_old]", TInstallResult::CreateFailed,
       "box 数据库创建程序 none: 创建数据库失败!"},
      {"new name", kRename + "[vqcydata_brinmoor_new | vqcydata]", TInstallResult::CreateFailed,
       "box 数据库创建程序 none: 创建数据库失败!"},
      {"file list", kFiles, TInstallResult::CreateFailed, "box 数据库创建程序 none: 创建数据库失败!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    server = TFakeServer{};
    ui = TRecordingUi{};
    OldDatabase();
    server.FailIf = [&](const std::string& line) { return line.rfind(c.failing, 0) == 0; };
    EXPECT_EQ(Run(), c.result);
    ASSERT_EQ(server.Databases.size(), 1u);
    EXPECT_THAT(server.Databases["vqcydata"], ElementsAre(D("vqcydata.mdf"), D("vqcydata_log.ldf")));
    EXPECT_EQ(target.Slurp("vqcydata.mdf"), "old data");
    EXPECT_EQ(target.Slurp("vqcydata_log.ldf"), "old log");
    EXPECT_EQ(ui.Seen.back().rfind(c.message + "[fake SQL Server] refused", 0), 0u) << ui.Seen.back();
  }
}

TEST_F(SqlServerInstall, CancelChangesNothing) {
  OldDatabase();
  ui.Answer = false;
  EXPECT_EQ(Run(), TInstallResult::Cancelled);
  EXPECT_THAT(server.Log, ElementsAre(kOpen, kExists + "[vqcydata]", "close"));
  EXPECT_EQ(target.Slurp("vqcydata.mdf"), "old data");
  EXPECT_FALSE(Saved());
}

TEST_F(SqlServerInstall, FailedCopyTouchesNoDatabase) {
  OldDatabase();
  params.Directory = target.Path("no/such/folder");
  EXPECT_EQ(Run(), TInstallResult::CopyFailed);
  EXPECT_EQ(ui.Seen.back(), "box 信息提示 none: 复制文件失败!" + shipped.Path("Data/vqcydata.mdf"));
  for (const std::string& line : server.Log) EXPECT_EQ(line.find("exec"), std::string::npos) << line;
  EXPECT_EQ(server.Log.back(), "close");
  EXPECT_THAT(server.Databases["vqcydata"], ElementsAre(D("vqcydata.mdf"), D("vqcydata_log.ldf")));
  EXPECT_FALSE(Saved());
}

TEST_F(SqlServerInstall, NoServerSavesTheSettings) {
  for (bool failOpen : {true, false}) {
    SCOPED_TRACE(failOpen ? "login" : "existence query");
    server = TFakeServer{};
    ui = TRecordingUi{};
    server.FailOpen = failOpen;
    server.FailIf = [](const std::string& line) { return line.find("sysdatabases") != std::string::npos; };
    EXPECT_EQ(Run(), TInstallResult::ConnectFailed);
    EXPECT_EQ(ui.Seen.back(), "box 信息提示 info: 连接服务器失败，请检查服务器配置是否正确!");
    EXPECT_TRUE(Saved());
    EXPECT_TRUE(server.Databases.empty());
  }
}

// What an interrupted replacement left under the temporary name goes first; a name that
// needs quoting is quoted, and values (names, paths with quotes) only travel as parameters.
TEST_F(SqlServerInstall, LeftoversQuotingAndParameters) {
  params.DbName = "Order";
  target.Put("it's/x", "");
  params.Directory = target.Path("it's");
  target.Put("it's/vqcydata.mdf", "old");
  target.Put("it's/vqcydata_log.ldf", "old");
  server.Databases["Order"] = {D("it's/vqcydata.mdf"), D("it's/vqcydata_log.ldf")};
  server.Databases["Order_brinmoor_new"] = {D("other.mdf"), D("other.ldf")};
  EXPECT_EQ(Run(), TInstallResult::Installed);
  EXPECT_EQ(server.Log.at(3), "exec DROP DATABASE [Order_brinmoor_new]");
  const std::set<std::string> statements = {"SELECT * FROM sysdatabases WHERE name = ?",
                                            "SELECT RTRIM(filename) FROM master.dbo.sysaltfiles",
                                            "EXEC sp_attach_db @dbname = ?, @filename1 = ?, @filename2 = ?",
                                            "EXEC sp_renamedb ?, ?",
                                            "DROP DATABASE [Order_brinmoor_new]",
                                            "DROP DATABASE [Order_brinmoor_old]"};
  for (const std::string& line : server.Log) {
    if (line.rfind("open", 0) == 0 || line == "close") continue;
    const std::string call = line.substr(line.find(' ') + 1);
    bool known = false;
    for (const std::string& sql : statements) known = known || call == sql || call.rfind(sql + " [", 0) == 0;
    EXPECT_TRUE(known) << line;
  }
  EXPECT_THAT(server.Databases["Order"], ElementsAre(D("it's/vqcydata_1.mdf"), D("it's/vqcydata_log_1.ldf")));
  EXPECT_EQ(QuoteTsqlName("a]b"), "[a]]b]");
}

TEST_F(SqlServerInstall, OverrideIsUsedAsItStands) {
  home.WriteIni(
      "[connectionstring]\r\nconnstring=Driver=FreeTDS;Server=10.1.1.1;Port=1500;Database=master\r\n");
  EXPECT_EQ(Run(), TInstallResult::Installed);
  EXPECT_EQ(server.Log.front(), "open Driver=FreeTDS;Server=10.1.1.1;Port=1500;Database=master timeout=10");
}

}  // namespace
}  // namespace qv::test

// Installing on PostgreSQL, the fixture's real server: the demo database in its shipped
// form (two SQL scripts), replacements, and every failure keeping the old database.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "Support.h"
#include "TempHome.h"
#include "installer/core/Install.h"
#include "db/Db.h"
#include "installer/core/Texts.h"

namespace qv::test {
namespace {

using namespace qv::installer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PgInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    QV_NEED_SERVER();
    name = names.Fresh();
    // The service's own string names the database; the installer goes through the
    // server's maintenance database.
    home.WriteIni("[ConnectionString]\r\nconnstring=" + TPgNames::Conn(name) + "\r\n");
    params = LoadDataLink();
    params.DbName = name;
    params.Directory = target.Dir();
    env.ShippedDir = shipped.Dir();
  }
  TInstallResult Run() { return Install(params, ReadSetupIni(shipped.Dir()), env, ui).Result; }
  // A database of that name with a row that only the old one has.
  void OldDatabase() {
    TPgNames::Exec("postgres", "CREATE DATABASE " + QuotePgName(name));
    TPgNames::Exec(name, "CREATE TABLE marker (v text); INSERT INTO marker VALUES ('old')");
  }
  // Whether the run saved the settings (the file then holds the fields, not only connstring).
  bool Saved() const { return home.Slurp("datalink.ini").find("DBName=") != std::string::npos; }
  std::string Marker() { return TPgNames::Scalar(name, "SELECT v FROM marker"); }
  void ExpectNoLeftovers() {
    EXPECT_FALSE(TPgNames::Exists(NewName(name)));
    EXPECT_FALSE(TPgNames::Exists(OldName(name)));
  }

  TPgNames names;
  std::string name;
  TTempHome home;
  TShipped shipped{TShipped::kDemo};
  TTempDir target;
  TRecordingUi ui;
  TDbParams params;
  TInstallerEnv env;
};

TEST_F(PgInstall, FreshInstallServesTheService) {
  EXPECT_EQ(Run(), TInstallResult::Installed);
  EXPECT_THAT(ui.Seen,
              ElementsAre("status: 检测连接服务器...", "status: 连接服务器成功!", "status: 安装数据库...",
                          "status: 数据库安装成功!", "box 信息提示 none: 创建数据库成功!"));
  EXPECT_THAT(FailedProcedureCheck(TPgNames::Conn(name)), IsEmpty());
  EXPECT_EQ(ServiceLogin(TPgNames::Conn(name)), (std::pair<int, std::string>{RC_OK, "\"王小二\""}));
  EXPECT_EQ(TPgNames::Scalar(name, "SELECT count(*) FROM dish"), "2000");
  EXPECT_EQ(TPgNames::Scalar(name, "SHOW server_encoding"), "UTF8");
  // The scripts that ran are the copies in the chosen directory.
  EXPECT_EQ(target.Slurp("vqcydata.sql"), shipped.Slurp("Data/vqcydata.sql"));
  EXPECT_TRUE(Saved());
  ExpectNoLeftovers();
}

TEST_F(PgInstall, ReplaceAfterOk) {
  OldDatabase();
  EXPECT_EQ(Run(), TInstallResult::Installed);
  EXPECT_EQ(ui.Seen.at(2), "ask 警告: " + ReplaceQuestion(name));
  EXPECT_EQ(TPgNames::Scalar(name, "SELECT count(*) FROM pg_tables WHERE tablename = 'marker'"), "0");
  EXPECT_EQ(TPgNames::Scalar(name, "SELECT count(*) FROM dish"), "2000");
  ExpectNoLeftovers();
}

TEST_F(PgInstall, CancelKeepsEverything) {
  OldDatabase();
  ui.Answer = false;
  EXPECT_EQ(Run(), TInstallResult::Cancelled);
  EXPECT_EQ(Marker(), "old");
  EXPECT_FALSE(std::filesystem::exists(target.Path("vqcydata.sql")));
  EXPECT_FALSE(Saved());
  ExpectNoLeftovers();
}

// A copy that fails, a script that fails half way, and an old database that someone still
// uses: the old one stays with its data, under its name.
TEST_F(PgInstall, FailuresKeepTheOldDatabase) {
  OldDatabase();
  params.Directory = target.Path("missing/");
  EXPECT_EQ(Run(), TInstallResult::CopyFailed);
  EXPECT_EQ(ui.Seen.back(), "box 信息提示 none: 复制文件失败!" + shipped.Path("Data/vqcydata.sql"));
  EXPECT_EQ(Marker(), "old");
  EXPECT_FALSE(Saved());

  params.Directory = target.Dir();
  shipped.Put("Data/vqcydata_data.sql",
              "INSERT INTO dish (dish_code) VALUES ('X'); SELECT broken syntax here;");
  EXPECT_EQ(Run(), TInstallResult::CreateFailed);
  EXPECT_EQ(ui.Seen.back().rfind("box 数据库创建程序 none: 创建数据库失败![PostgreSQL]", 0), 0u)
      << ui.Seen.back();
  EXPECT_EQ(Marker(), "old");
  ExpectNoLeftovers();

  shipped.Put("Data/vqcydata_data.sql", TShipped(TShipped::kDemo).Slurp("Data/vqcydata_data.sql"));
  {
    db::TADOConnection user(TPgNames::Conn(name));  // the service, still connected
    user.Open();
    EXPECT_EQ(Run(), TInstallResult::CreateFailed);
    EXPECT_NE(ui.Seen.back().find(name), std::string::npos) << ui.Seen.back();
  }
  EXPECT_EQ(Marker(), "old");
  ExpectNoLeftovers();
}

// Names are checked before anything reaches the server; a database elsewhere on the server
// is out of their reach, and a name that needs quoting keeps its exact spelling.
TEST_F(PgInstall, HostileNamesAreRefusedAndNamesAreQuoted) {
  const std::string canary = names.Fresh("qvcanary");
  TPgNames::Exec("postgres", "CREATE DATABASE " + canary);
  TPgNames::Exec(canary, "CREATE TABLE canary (v int); INSERT INTO canary VALUES (1)");
  for (const std::string& hostile : {"x'; ALTER DATABASE " + canary + " RENAME TO " + canary + "_gone; --",
                                     "x\"; DROP DATABASE " + canary + "; --", std::string("a'b"),
                                     std::string("a b"), std::string(200, 'a')}) {
    SCOPED_TRACE(hostile);
    ui = TRecordingUi{};
    params.DbName = hostile;
    EXPECT_EQ(Run(), TInstallResult::InputRejected);
    EXPECT_THAT(ui.Seen, ElementsAre(std::string("box 信息提示 info: ") + kBadDbName));
  }
  EXPECT_EQ(TPgNames::Scalar(canary, "SELECT v FROM canary"), "1");

  const std::string cased = names.Fresh("Order");  // a keyword with capitals
  params.DbName = cased;
  EXPECT_EQ(Run(), TInstallResult::Installed);
  EXPECT_TRUE(TPgNames::Exists(cased));
  EXPECT_FALSE(TPgNames::Exists("order" + cased.substr(5)));
  // What an interrupted replacement left under the new name goes before anything else.
  TPgNames::Exec("postgres", "CREATE DATABASE " + QuotePgName(NewName(cased)));
  EXPECT_EQ(Run(), TInstallResult::Installed);
  EXPECT_FALSE(TPgNames::Exists(NewName(cased)));
}

}  // namespace
}  // namespace qv::test

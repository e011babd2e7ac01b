// SetUp.ini, the mode, DATALINK.INI read and saved, the connection string and the names
// the installer accepts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Support.h"
#include "TempHome.h"
#include "base/IniFile.h"
#include "base/Text.h"
#include "installer/core/Params.h"

namespace qv::test {
namespace {

using namespace qv::installer;

TEST(Setup, MissingFileAndLetterCase) {
  TShipped none;
  const TSetupInfo empty = ReadSetupIni(none.Dir());
  EXPECT_EQ(empty.ProductName, "");
  EXPECT_EQ(empty.DataFileName, "");
  EXPECT_EQ(empty.LogFileName, "");
  EXPECT_EQ(empty.ProductType, 1);
  EXPECT_FALSE(ShowLogo(empty));

  TShipped s;
  s.Put("SETUP.INI", Utf8ToGbk("[options]\r\nPRODUCTNAME=演示\r\ndatafilename=a.sql\r\nLogFileName=b.sql\r\n"
                               "ProductType=x\r\nShowImage=vANTORQ\r\n"));
  s.Put("data/A.SQL", "select 1;");
  const TSetupInfo info = ReadSetupIni(s.Dir());
  EXPECT_EQ(info.ProductName, "演示");
  EXPECT_EQ(info.DataFileName, "a.sql");
  EXPECT_EQ(info.ProductType, 1);
  EXPECT_TRUE(ShowLogo(info));
  EXPECT_EQ(ShippedFile(s.Dir(), "a.sql"), s.Path("data/A.SQL"));
  for (const char* v : {"Vantorq", "VANTORQ"}) EXPECT_TRUE(ShowLogo({"", "", "", 1, v})) << v;
  for (const char* v : {"", "Vantorq2", "V"}) EXPECT_FALSE(ShowLogo({"", "", "", 1, v})) << v;
}

TEST(Mode, TheLastArgumentInAnyCase) {
  struct {
    std::vector<std::string> args;
    bool install;
  } const cases[] = {
      {{}, false},           {{"install"}, true},       {{"INSTALL"}, true},
      {{"iNsTaLl"}, true},   {{"install", "x"}, false}, {{"x", "Install"}, true},
      {{"install "}, false}, {{"setup"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args.back());
    EXPECT_EQ(IsInstallMode(InputParam(c.args)), c.install);
  }
  EXPECT_EQ(InputParam({"a", "install"}), "INSTALL");
}

using DataLink = TempHome;

TEST_F(DataLink, ReadWithDefaultsAndWithoutCase) {
  TDbParams d = LoadDataLink();
  EXPECT_EQ(d.DbType, 0);
  EXPECT_EQ(d.Instance, "SQLEXPRESS");
  EXPECT_EQ(d.Server, "(Local)");
  EXPECT_FALSE(d.UsePort);
  EXPECT_FALSE(d.NTAuth);
  EXPECT_EQ(d.Port, "1433");
  EXPECT_EQ(d.DbName, "vqcydata");
  EXPECT_EQ(d.Password, "");
  EXPECT_EQ(d.User, "sa");
  EXPECT_FALSE(d.NameDb);
  EXPECT_EQ(d.Directory, Dir());

  Put("DATALINK.INI",
      "[connectionstring]\r\ndbservertype=1\r\nSVRINSTANCE=SHOP\r\nserver=10.0.0.5\r\nUPORT=1\r\n"
      "ntauth=1\r\nPORT=1500\r\ndbname=vqerp\r\nPASSWORD=pw\r\nUserId=admin\r\n");
  d = LoadDataLink();
  EXPECT_EQ(d.DbType, 1);
  EXPECT_EQ(d.Instance, "SHOP");
  EXPECT_EQ(d.Server, "10.0.0.5");
  EXPECT_TRUE(d.UsePort);
  EXPECT_TRUE(d.NTAuth);
  EXPECT_EQ(d.Port, "1500");
  EXPECT_EQ(d.DbName, "vqerp");
  EXPECT_EQ(d.Password, "pw");
  EXPECT_EQ(d.User, "sa") << "UserId is written, never read back";
}

TEST_F(DataLink, ConnectionStringByMode) {
  TDbParams p;
  p.Server = " srv ";
  p.User = " sa ";
  p.Password = " pw ";
  p.DbName = " shop ";
  p.Port = " 1500 ";
  p.Instance = "IGNORED";
  const std::string login = "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=";
  EXPECT_EQ(BuildConnectionString(p, true), login + "master;User ID=sa;Password=pw;Data Source=srv");
  EXPECT_EQ(BuildConnectionString(p, false), login + "shop;User ID=sa;Password=pw;Data Source=srv");
  p.UsePort = true;
  EXPECT_EQ(BuildConnectionString(p, true), login + "master;User ID=sa;Password=pw;Data Source=srv,1500");
  p.NTAuth = true;
  EXPECT_EQ(BuildConnectionString(p, false),
            "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;Initial Catalog=shop;"
            "Data Source=srv,1500");

  // The override, as it stands, for SQL Server in both modes.
  WriteIni("[ConnectionString]\r\nconnstring=Driver=FreeTDS;Server=x;Database=shop\r\n");
  EXPECT_EQ(BuildConnectionString(p, true), "Driver=FreeTDS;Server=x;Database=shop");
  EXPECT_EQ(BuildConnectionString(p, false), "Driver=FreeTDS;Server=x;Database=shop");
  // PostgreSQL installs from the maintenance database of the same server.
  WriteIni("[connectionstring]\r\nconnstring=postgresql://qv@db.example/vqcydata\r\n");
  EXPECT_EQ(BuildConnectionString(p, true), "postgresql:///postgres?user=qv&host=db.example");
  EXPECT_EQ(BuildConnectionString(p, false), "postgresql://qv@db.example/vqcydata");
  // A PostgreSQL override libpq cannot read gives nothing to connect with.
  WriteIni("[connectionstring]\r\nconnstring=host=/x y dbname=z\r\n");
  EXPECT_EQ(BuildConnectionString(p, true), "");
}

// The password is in DATALINK.INI in plain text: only its owner may read it, however the
// file came to be.
TEST_F(DataLink, SavedFileIsOwnerOnly) {
  struct stat st {};
  ASSERT_TRUE(SaveDataLink(TDbParams{}));
  ASSERT_EQ(stat(Path("datalink.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  chmod(Path("datalink.ini").c_str(), 0644);
  TDbParams p;
  p.Password = "s3cret";
  ASSERT_TRUE(SaveDataLink(p));
  ASSERT_EQ(stat(Path("datalink.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(TIniFile(Path("datalink.ini")).ReadString("ConnectionString", "password", ""), "s3cret");
}

TEST(DbName, IdentifiersOnly) {
  for (const std::string& ok : {std::string("vqcydata"), std::string("Order"), std::string("_x"),
                                std::string("a1_b2"), std::string(50, 'a')})
    EXPECT_TRUE(IsValidDbName(ok)) << ok;
  for (const std::string& bad :
       {std::string(""), std::string("x'; DROP TABLE canary; --"), std::string("a'b"), std::string("a b"),
        std::string("1abc"), std::string("a-b"), std::string("a]b"), std::string("a\"b"),
        std::string("数据库"), std::string(51, 'a'), std::string(200, 'a'), std::string("a\nb")})
    EXPECT_FALSE(IsValidDbName(bad)) << bad;
}

}  // namespace
}  // namespace qv::test

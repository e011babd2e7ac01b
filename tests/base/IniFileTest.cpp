#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TempHome.h"
#include "base/IniFile.h"

namespace qv::test {
namespace {

using IniFile = TempHome;

TEST_F(IniFile, NamesIgnoreCase) {
  Put("datalink.ini", "[connectionstring]\r\nPASSWORD=secret\r\nntauth=1\r\n");
  TIniFile ini(Path("datalink.ini"));
  EXPECT_EQ(ini.ReadString("ConnectionString", "PassWord", ""), "secret");
  EXPECT_EQ(ini.ReadString("CONNECTIONSTRING", "password", ""), "secret");
  EXPECT_TRUE(ini.ReadBool("ConnectionString", "NTAuth", false));
}

TEST_F(IniFile, DefaultsWhenMissing) {
  TIniFile none(Path("datalink.ini"));
  EXPECT_EQ(none.ReadString("SysSet", "ShopNO", "dflt"), "dflt");
  EXPECT_EQ(none.ReadInteger("SysSet", "maxsizeResult", 5120), 5120);
  EXPECT_TRUE(none.ReadBool("SysSet", "Broadcast", true));
  EXPECT_FALSE(Exists("datalink.ini"));  // reading creates nothing

  Put("datalink.ini", "[SysSet]\r\nShopNO=\r\n");
  TIniFile ini(Path("datalink.ini"));
  EXPECT_EQ(ini.ReadString("SysSet", "ShopNO", "dflt"), "");  // present but empty
  EXPECT_EQ(ini.ReadString("SysSet", "AppTitle", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadString("CommSet", "ShopNO", "dflt"), "dflt");
}

TEST_F(IniFile, NumbersAndBooleans) {
  struct Case {
    const char* value;
    int asInt;    // default -7
    bool asBool;  // default true
  };
  const Case cases[] = {
      {"12", 12, true},  {"-3", -3, true},   {"0", 0, false},           {"1", 1, true},
      {"2", 2, true},    {"abc", -7, true},  {"12abc", -7, true},       {"", -7, true},
      {"1.5", -7, true}, {"0x10", -7, true}, {"99999999999", -7, true},
  };
  for (const Case& c : cases) {
    Put("a.ini", std::string("[S]\r\nk=") + c.value + "\r\n");
    TIniFile ini(Path("a.ini"));
    EXPECT_EQ(ini.ReadInteger("S", "k", -7), c.asInt) << c.value;
    EXPECT_EQ(ini.ReadBool("S", "k", true), c.asBool) << c.value;
  }
}

TEST_F(IniFile, SpacesQuotesAndFirstMatch) {
  Put("a.ini",
      "top=outside\n"
      "[S]\n"
      "  Key  =  spaced value  \n"
      "q=\"quoted\"\n"
      "q1='single'\n"
      "q2=\"half\n"
      "dup=first\n"
      "dup=second\n"
      ";c=comment\n"
      "[s]\n"
      "dup=other section\n"
      "late=from second section\n");
  TIniFile ini(Path("a.ini"));
  EXPECT_EQ(ini.ReadString("S", "key", ""), "spaced value");
  EXPECT_EQ(ini.ReadString("S", "q", ""), "quoted");
  EXPECT_EQ(ini.ReadString("S", "q1", ""), "single");
  EXPECT_EQ(ini.ReadString("S", "q2", ""), "\"half");
  EXPECT_EQ(ini.ReadString("S", "dup", ""), "first");
  EXPECT_EQ(ini.ReadString("S", ";c", "none"), "none");
  EXPECT_EQ(ini.ReadString("S", "late", "none"), "none");  // only the first [S] counts
  EXPECT_EQ(ini.ReadString("S", "top", "none"), "none");
}

TEST_F(IniFile, WriteKeepsOtherLines) {
  const std::string head =
      "; comment line\r\n"
      "[SysSet]\r\n"
      "AppTitle=\xC5\xCC\xB5\xE3\xBB\xFA\r\n"  // 盘点机
      "  odd   =  spacing  \n"
      "ShopNO=old\r\n";
  const std::string tail =
      "\r\n"
      "[CommSet]\r\n"
      "CommNo=COM3\r\n";
  Put("a.ini", head + tail);
  TIniFile ini(Path("a.ini"));

  ASSERT_TRUE(ini.WriteString("sysset", "shopno", "A01"));  // replaces, caller's spelling
  const std::string replaced =
      "; comment line\r\n[SysSet]\r\nAppTitle=\xC5\xCC\xB5\xE3\xBB\xFA\r\n  odd   =  spacing  \n"
      "shopno=A01\r\n";
  EXPECT_EQ(Slurp("a.ini"), replaced + tail);

  ASSERT_TRUE(ini.WriteInteger("SysSet", "iMaxLogCount", 30));  // added after the last key
  const std::string added = replaced + "iMaxLogCount=30\r\n";
  EXPECT_EQ(Slurp("a.ini"), added + tail);

  ASSERT_TRUE(ini.WriteBool("ConnectionString", "NTAuth", true));  // new section at the end
  EXPECT_EQ(Slurp("a.ini"), added + tail + "[ConnectionString]\r\nNTAuth=1\r\n");
  EXPECT_EQ(ini.ReadString("SysSet", "AppTitle", ""), "盘点机");
}

TEST_F(IniFile, WriteAfterLastLineWithoutNewline) {
  Put("a.ini", "[S]\r\na=1");
  TIniFile ini(Path("a.ini"));
  ASSERT_TRUE(ini.WriteString("S", "b", "2"));
  EXPECT_EQ(Slurp("a.ini"), "[S]\r\na=1\r\nb=2\r\n");
  ASSERT_TRUE(ini.WriteString("T", "c", "3"));
  EXPECT_EQ(Slurp("a.ini"), "[S]\r\na=1\r\nb=2\r\n[T]\r\nc=3\r\n");
}

TEST_F(IniFile, CreatesMissingFileInGbk) {
  TIniFile ini(Path("datalink.ini"));
  ASSERT_TRUE(ini.WriteString("SysSet", "AppTitle", "盘点机无线服务程序"));
  EXPECT_EQ(Slurp("datalink.ini"),
            "[SysSet]\r\nAppTitle=\xC5\xCC\xB5\xE3\xBB\xFA\xCE\xDE\xCF\xDF\xB7\xFE\xCE\xF1"
            "\xB3\xCC\xD0\xF2\r\n");
  EXPECT_EQ(ini.ReadString("sysset", "apptitle", ""), "盘点机无线服务程序");
}

TEST_F(IniFile, DataLinkIniFoundWithoutRegardToCase) {
  EXPECT_EQ(DataLinkIni().FileName(), Path("datalink.ini"));
  Put("DATALINK.INI", "[SysSet]\r\nShopNO=X\r\n");
  EXPECT_EQ(DataLinkIni().FileName(), Path("DATALINK.INI"));
  EXPECT_EQ(DataLinkIni().ReadString("SysSet", "ShopNO", ""), "X");
}

// Names in dir other than the ones given.
int StrayFiles(const std::string& dir, const std::string& keep) {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename() != keep) ++n;
  return n;
}

TEST_F(IniFile, FailedWriteLeavesOldFile) {
  const std::string old = "[S]\r\nk=old\r\n";
  Put("a.ini", old);
  TIniFile ini(Path("a.ini"));

  // A full disk, simulated by a file size limit below the new text's length.
  signal(SIGXFSZ, SIG_IGN);
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  rlimit small = saved;
  small.rlim_cur = old.size();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = ini.WriteString("S", "k", "a much longer value than before");
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_FALSE(written);
  EXPECT_EQ(Slurp("a.ini"), old);
  EXPECT_EQ(StrayFiles(dir_, "a.ini"), 0);

  // A directory without write permission (root writes anyway, so only as another user).
  if (geteuid() != 0) {
    chmod(dir_.c_str(), 0555);
    EXPECT_FALSE(ini.WriteString("S", "k", "new"));
    chmod(dir_.c_str(), 0755);
    EXPECT_EQ(Slurp("a.ini"), old);
    EXPECT_EQ(StrayFiles(dir_, "a.ini"), 0);
  }

  // A file made read-only (even for root, whose rename would replace it).
  chmod(Path("a.ini").c_str(), 0444);
  EXPECT_FALSE(ini.WriteString("S", "k", "new"));
  chmod(Path("a.ini").c_str(), 0644);
  EXPECT_EQ(Slurp("a.ini"), old);
  EXPECT_EQ(StrayFiles(dir_, "a.ini"), 0);

  // No such directory.
  TIniFile lost(Path("missing/a.ini"));
  EXPECT_FALSE(lost.WriteString("S", "k", "v"));
}

TEST_F(IniFile, LineBreaksCannotAddKeysOrSections) {
  Put("a.ini", "[S]\r\n");
  TIniFile ini(Path("a.ini"));
  ASSERT_TRUE(ini.WriteString("S", "Password", "a\r\n[ConnectionString]\r\nconnstring=evil"));
  ASSERT_TRUE(ini.WriteString("S", "Server", "b\nx=1"));
  EXPECT_EQ(Slurp("a.ini"), "[S]\r\nPassword=a\r\nServer=b\r\n");
  EXPECT_EQ(ini.ReadString("ConnectionString", "connstring", "none"), "none");
  for (const auto& [section, key] : {std::pair{"S\r\n[T", "k"}, std::pair{"S]", "k"}, std::pair{"S", "k=v"},
                                     std::pair{"S", "k\nj"}, std::pair{"S", "[k"}})
    EXPECT_FALSE(ini.WriteString(section, key, "v")) << section << "/" << key;
  EXPECT_EQ(Slurp("a.ini"), "[S]\r\nPassword=a\r\nServer=b\r\n");
}

TEST_F(IniFile, WriteKeepsFileMode) {
  Put("a.ini", "[S]\r\n");
  chmod(Path("a.ini").c_str(), 0600);
  ASSERT_TRUE(TIniFile(Path("a.ini")).WriteString("S", "k", "v"));
  struct stat st {};
  ASSERT_EQ(stat(Path("a.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

// root rewriting a file of the service's user must leave it the service's: a rename puts
// a new file in place, which would otherwise be root's.
TEST_F(IniFile, WriteKeepsOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  Put("a.ini", "[S]\r\n");
  ASSERT_EQ(chown(Path("a.ini").c_str(), 65534, 65534), 0);
  chmod(Path("a.ini").c_str(), 0600);
  ASSERT_TRUE(TIniFile(Path("a.ini")).WriteString("S", "k", "v"));
  struct stat st {};
  ASSERT_EQ(stat(Path("a.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 65534u);
  EXPECT_EQ(st.st_gid, 65534u);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(Slurp("a.ini"), "[S]\r\nk=v\r\n");
}

// A file that holds a password: every write leaves it 0600, new or not; a file root
// rewrites for the service's own user stays that user's, or the service could not read it.
TEST_F(IniFile, FixedModeAndOwnerOnRewrite) {
  struct stat st {};
  TIniFile fresh(Path("new.ini"));
  fresh.SetFileMode(0600);
  ASSERT_TRUE(fresh.WriteString("S", "PassWord", "x"));
  ASSERT_EQ(stat(Path("new.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Put("old.ini", "[S]\r\n");
  chmod(Path("old.ini").c_str(), 0644);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(Path("old.ini").c_str(), 65534, 65534), 0);
  }
  TIniFile old(Path("old.ini"));
  old.SetFileMode(0600);
  ASSERT_TRUE(old.WriteString("S", "PassWord", "y"));
  ASSERT_EQ(stat(Path("old.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  if (root) {
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
  EXPECT_EQ(Slurp("old.ini"), "[S]\r\nPassWord=y\r\n");
}

}  // namespace
}  // namespace qv::test

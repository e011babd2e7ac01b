#include <gtest/gtest.h>

#include "TempHome.h"
#include "bridge/DbLink.h"

namespace qv {
namespace {

struct ConnCase {
  const char* name;
  const char* ini;  // empty: no datalink.ini at all
  const char* expected;
};

const ConnCase kConnCases[] = {
    {"NoFileGivesDefaults", "",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=vqerp;User ID=;Password=;"
     "Data Source="},
    {"SqlLogin", "[connectionstring]\r\nuserid=sa\r\npassword=p;w\r\nserver=srv\\inst\r\ndbname=shop\r\n",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=shop;User ID=sa;"
     "Password=p;w;Data Source=srv\\inst"},
    {"ConnstringOverridesEverythingIncludingNtauth",
     "[connectionstring]\r\nntauth=1\r\nuport=1\r\nserver=srv\r\n"
     "connstring=postgresql:///demo?host=/tmp\r\n",
     "postgresql:///demo?host=/tmp"},
    {"PortIsTrimmedAndAppendedWithComma",
     "[connectionstring]\r\nuserid=sa\r\npassword=x\r\nserver=srv\r\nuport=1\r\n"
     "port=\" 1500 \"\r\n",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=vqerp;User ID=sa;"
     "Password=x;Data Source=srv,1500"},
    {"PortIgnoredWithoutUport", "[connectionstring]\r\nserver=srv\r\nport=1500\r\n",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=vqerp;User ID=;Password=;"
     "Data Source=srv"},
    {"NtauthLeavesUserOut", "[connectionstring]\r\nntauth=1\r\nuserid=sa\r\npassword=x\r\nserver=srv\r\n",
     "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
     "Initial Catalog=vqerp;Data Source=srv"},
    {"NtauthWithDefaultPort", "[connectionstring]\r\nntauth=1\r\nuport=1\r\nserver=srv\r\n",
     "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
     "Initial Catalog=vqerp;Data Source=srv,1433"},
    {"NamesIgnoreCase", "[ConnectionString]\r\nDBName=other\r\nUserID=u\r\n",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=other;User ID=u;"
     "Password=;Data Source="},
    {"OtherSectionsDoNotCount", "[SysSet]\r\ndbname=wrong\r\n[connectionstring]\r\nserver=s\r\n",
     "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=vqerp;User ID=;Password=;"
     "Data Source=s"},
};

class ConnStringTest : public ::testing::TestWithParam<ConnCase> {};

TEST_P(ConnStringTest, Builds) {
  test::TTempHome home{test::kWithTrace};
  if (*GetParam().ini) home.WriteIni(GetParam().ini);
  std::string s = "left over";
  GetConnectionString(s);
  EXPECT_EQ(s, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConnStringTest, ::testing::ValuesIn(kConnCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TestLinkStringTest, RefusesWhatCannotConnect) {
  EXPECT_FALSE(TestLinkString(""));
  EXPECT_FALSE(TestLinkString("host=/nonexistent-qv-socket-dir dbname=x"));
}

}  // namespace
}  // namespace qv

#include <unistd.h>

#include "TempHome.h"
#include "base/AppPath.h"

namespace qv::test {
namespace {

using AppPath = TempHome;

TEST_F(AppPath, HomeOverridesAndGetsTrailingSlash) {
  EXPECT_EQ(GetAppPath(), dir_);
  std::string bare = dir_.substr(0, dir_.size() - 1);
  setenv("QUORVEX_HOME", bare.c_str(), 1);
  EXPECT_EQ(GetAppPath(), dir_);
}

TEST_F(AppPath, ExecutableDirectoryWithoutHome) {
  unsetenv("QUORVEX_HOME");
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf);
  ASSERT_GT(n, 0);
  std::string exe(buf, static_cast<size_t>(n));
  EXPECT_EQ(GetAppPath(), exe.substr(0, exe.rfind('/') + 1));
}

TEST_F(AppPath, FindNoCase) {
  EXPECT_EQ(FindNoCase(dir_, "datalink.ini"), dir_ + "datalink.ini");  // none: the given name
  Put("DATALINK.INI", "");
  EXPECT_EQ(FindNoCase(dir_, "datalink.ini"), dir_ + "DATALINK.INI");
  Put("datalink.ini", "");
  EXPECT_EQ(FindNoCase(dir_, "datalink.ini"), dir_ + "datalink.ini");  // exact spelling wins
  EXPECT_EQ(FindNoCase(dir_ + "missing/", "x"), dir_ + "missing/x");
}

}  // namespace
}  // namespace qv::test

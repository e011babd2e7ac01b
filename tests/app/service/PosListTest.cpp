// POSLIST.BAT: reading every kind of line, writing it back in order, failures keep the old file.
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "ServiceTestSupport.h"
#include "base/Text.h"
#include "app/service/PosList.h"

namespace qv::test {
namespace {

class PosListFile : public ServiceHome {};

TEST(PosListFields, CommaSeparatedFields) {
  EXPECT_EQ(LineField("1234567,V4.00", 1), "1234567");
  EXPECT_EQ(LineField("1234567,V4.00", 2), "V4.00");
  EXPECT_EQ(LineField("123", 1), "123");
  EXPECT_EQ(LineField("123", 2), "");
  EXPECT_EQ(LineField("1,V,x", 2), "V");
  EXPECT_EQ(LineField(",", 1), "");
  EXPECT_EQ(LineField("", 1), "");
}

TEST_F(PosListFile, NoFileNoRows) {
  EXPECT_TRUE(LoadPosList().empty());
}

TEST_F(PosListFile, LoadsEveryLineAndFindsTheNameInAnyCase) {
  Put("poslist.bat", Utf8ToGbk("7,V4.00\r\n123\r\n\r\n45,版本,x\nlast,V1"));
  const std::vector<TPosRow> rows = LoadPosList();
  ASSERT_EQ(rows.size(), 5u);
  const TPosRow want[] = {{"7", "V4.00"}, {"123", ""}, {"", ""}, {"45", "版本"}, {"last", "V1"}};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].strNo, want[i].strNo) << i;
    EXPECT_EQ(rows[i].strVer, want[i].strVer) << i;
  }
}

TEST_F(PosListFile, SaveWritesGbkCrLfInOrderAndRoundTrips) {
  const std::vector<TPosRow> rows = {{"9", "V4.00"}, {"123", ""}, {"45", "版本"}};
  SavePosList(rows);
  EXPECT_EQ(Slurp("POSLIST.BAT"), Utf8ToGbk("9,V4.00\r\n123,\r\n45,版本\r\n"));
  const std::vector<TPosRow> back = LoadPosList();
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[2].strVer, "版本");
  SavePosList({});
  EXPECT_EQ(Slurp("POSLIST.BAT"), "");
}

TEST_F(PosListFile, SaveReplacesAnExistingLowerCaseName) {
  Put("PosList.bat", "1,V4.00\r\n");
  SavePosList({{"2", "V4.00"}});
  EXPECT_EQ(Slurp("PosList.bat"), "2,V4.00\r\n");
  EXPECT_FALSE(Exists("POSLIST.BAT"));
}

TEST_F(PosListFile, FailedSaveThrowsAndKeepsTheOldFile) {
  Put("POSLIST.BAT", "1,V4.00\r\n");
  // A file-size limit makes the write fail even for root; the old list must stay whole and
  // no temporary file may be left behind.
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  signal(SIGXFSZ, SIG_IGN);
  rlimit low = old;
  low.rlim_cur = 32;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
  std::vector<TPosRow> many;
  for (int i = 0; i < 20; ++i) many.push_back({std::to_string(1000 + i), "V4.00"});
  EXPECT_THROW(SavePosList(many), std::runtime_error);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
  EXPECT_EQ(Slurp("POSLIST.BAT"), "1,V4.00\r\n");
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace qv::test

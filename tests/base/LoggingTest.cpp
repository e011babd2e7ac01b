#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

#include "TempHome.h"
#include "VirtualLoop.h"

namespace qv::test {
namespace {

using Logging = TempHome;

const std::string kStamp =
    "Time\xA3\xBA"
    "2024-05-06 07:08:09 -- ";  // "Time：" in GBK

class LoggingAt : public TempHome {
 protected:
  void SetUp() override {
    TempHome::SetUp();
    clock.SetWallTime(Local(2024, 5, 6, 7, 8, 9));
  }
  TVirtualClock clock;
};

TEST(LogTime, MidnightLeavesTimeOut) {
  struct Case {
    int h, mi, s, ms;
    const char* text;
  };
  const Case cases[] = {
      {0, 0, 0, 0, "2024-05-06"},
      {0, 0, 0, 1, "2024-05-06 00:00:00"},
      {0, 0, 1, 0, "2024-05-06 00:00:01"},
      {23, 59, 59, 999, "2024-05-06 23:59:59"},
      {7, 8, 9, 500, "2024-05-06 07:08:09"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatLogDateTime(Local(2024, 5, 6, c.h, c.mi, c.s, c.ms)), c.text);
}

TEST_F(LoggingAt, ErrLogLineInGbk) {
  WriteErrLog("ListViewToFile except:消息");
  WriteErrLog("second");
  EXPECT_EQ(Slurp("ResultErr.txt"),
            kStamp + "ListViewToFile except:\xCF\xFB\xCF\xA2\r\n" + kStamp + "second\r\n");
}

TEST_F(LoggingAt, ErrLogAtMidnight) {
  clock.SetWallTime(Local(2024, 5, 7, 0, 0, 0));
  WriteErrLog("m");
  EXPECT_EQ(Slurp("ResultErr.txt"),
            "Time\xA3\xBA"
            "2024-05-07 -- m\r\n");
}

TEST_F(LoggingAt, ResultLogOnlyWhileSwitchedOn) {
  WriteResultLog("off");
  EXPECT_FALSE(Exists("Result.txt"));
  SysSet().writeResult = true;
  WriteResultLog("on");
  EXPECT_EQ(Slurp("Result.txt"), kStamp + "on\r\n");
}

TEST_F(LoggingAt, SizeLimits) {
  struct Case {
    const char* file;
    int maxsizeResult;
    size_t before;
    bool emptied;
  };
  const Case cases[] = {
      {"Result.txt", 5120, 655359, false},
      {"Result.txt", 5120, 655360, true},
      {"Result.txt", 1, 127, false},
      {"Result.txt", 1, 128, true},
      {"Result.txt", 0, 0, true},
      {"Result.txt", -1, 500, true},  // a negative setting keeps only the newest line, never grows
      {"ResultErr.txt", 5120, 131071, false},
      {"ResultErr.txt", 1, 131072, true},  // fixed limit, maxsizeResult has no say
  };
  const std::string line = kStamp + "x\r\n";
  for (const Case& c : cases) {
    Put(c.file, std::string(c.before, 'a'));
    SysSet().writeResult = true;
    SysSet().maxsizeResult = c.maxsizeResult;
    if (std::string(c.file) == "Result.txt")
      WriteResultLog("x");
    else
      WriteErrLog("x");
    const std::string got = Slurp(c.file);
    EXPECT_EQ(got.size(), (c.emptied ? 0 : c.before) + line.size()) << c.file << " " << c.before;
    EXPECT_EQ(got.substr(got.size() - line.size()), line);
  }
}

TEST_F(LoggingAt, CommDayLogCreatesFolderAndRollsOverAtMidnight) {
  WriteCommDayLog("off");
  EXPECT_FALSE(Exists("Log"));
  SysSet().WriteCommLog = true;
  clock.SetWallTime(Local(2024, 5, 6, 23, 59, 59));
  WriteCommDayLog("late");
  clock.SetWallTime(Local(2024, 5, 7, 0, 0, 1));
  WriteCommDayLog("early");
  EXPECT_TRUE(std::filesystem::is_directory(Path("Log")));
  EXPECT_EQ(Slurp("Log/20240506.txt"),
            "Time\xA3\xBA"
            "2024-05-06 23:59:59 -- late\r\n");
  EXPECT_EQ(Slurp("Log/20240507.txt"),
            "Time\xA3\xBA"
            "2024-05-07 00:00:01 -- early\r\n");
}

TEST_F(LoggingAt, CommDayLogUsesExistingFolderOfAnyCase) {
  SysSet().WriteCommLog = true;
  std::filesystem::create_directory(Path("LOG"));
  WriteCommDayLog("x");
  EXPECT_EQ(Slurp("LOG/20240506.txt"), kStamp + "x\r\n");
  EXPECT_FALSE(Exists("Log"));
}

TEST_F(LoggingAt, CommDayLogLostWhenFolderCannotBeMade) {
  SysSet().WriteCommLog = true;
  Put("Log", "a file in the way");
  WriteCommDayLog("x");  // no throw, nothing written
  EXPECT_EQ(Slurp("Log"), "a file in the way");
}

// The day's file is kept open between lines: whatever happens to it in between, each line
// is readable at once and lands in the file the path names at that moment.
TEST_F(LoggingAt, CommDayLogFollowsTheFileBetweenLines) {
  namespace fs = std::filesystem;
  const std::string a = kStamp + "a\r\n", b = kStamp + "b\r\n";
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> between;
    std::string day;    // Log/20240506.txt afterwards
    std::string moved;  // Log/moved.txt afterwards, "-" when there is none
  };
  const Case cases[] = {
      {"nothing", [](const std::string&) {}, a + b, "-"},
      {"removed", [](const std::string& d) { fs::remove(d + "Log/20240506.txt"); }, b, "-"},
      {"renamed", [](const std::string& d) { fs::rename(d + "Log/20240506.txt", d + "Log/moved.txt"); }, b,
       a},
      {"replaced",
       [](const std::string& d) {
         fs::rename(d + "Log/20240506.txt", d + "Log/moved.txt");
         std::ofstream(d + "Log/20240506.txt") << "new\r\n";
       },
       "new\r\n" + b, a},
      {"folder removed", [](const std::string& d) { fs::remove_all(d + "Log"); }, b, "-"},
      {"switched off and on",
       [](const std::string&) {
         SysSet().WriteCommLog = false;
         WriteCommDayLog("off");
         SysSet().WriteCommLog = true;
       },
       a + b, "-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(Path("Log"));
    SysSet().WriteCommLog = true;
    WriteCommDayLog("a");
    EXPECT_EQ(Slurp("Log/20240506.txt"), a);
    c.between(Dir());
    WriteCommDayLog("b");
    EXPECT_EQ(Slurp("Log/20240506.txt"), c.day);
    EXPECT_EQ(Exists("Log/moved.txt") ? Slurp("Log/moved.txt") : "-", c.moved);
  }
}

TEST_F(LoggingAt, CommDayLogFollowsTheProgramDirectory) {
  SysSet().WriteCommLog = true;
  WriteCommDayLog("here");
  {
    TTempHome other;
    WriteCommDayLog("there");
    EXPECT_EQ(other.Slurp("Log/20240506.txt"), kStamp + "there\r\n");
  }
  WriteCommDayLog("back");
  EXPECT_EQ(Slurp("Log/20240506.txt"), kStamp + "here\r\n" + kStamp + "back\r\n");
}

// An outside chmod that lets others read the open day's file is taken back at its next line.
TEST_F(LoggingAt, CommDayLogTightenedWhileOpen) {
  SysSet().WriteCommLog = true;
  WriteCommDayLog("a");
  chmod(Path("Log/20240506.txt").c_str(), 0666);
  WriteCommDayLog("b");
  struct stat st {};
  ASSERT_EQ(stat(Path("Log/20240506.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(LoggingAt, EPosLog) {
  WriteEPosLog("", false);
  EXPECT_FALSE(Exists("ePOS.txt"));
  WriteEPosLog("rec1", true);
  WriteEPosLog("记录2", false);
  WriteEPosLog("", false);
  EXPECT_EQ(Slurp("ePOS.txt"),
            "rec1\r\n\xBC\xC7\xC2\xBC"
            "2\r\n");
  WriteEPosLog("", true);
  EXPECT_EQ(Slurp("ePOS.txt"), "");
}

// Result.txt holds request texts and every log may name waiters and tables: no log is
// readable by everybody, whatever the umask, and one left readable is tightened at the
// next line.
TEST_F(LoggingAt, LogFilesAreNotWorldReadable) {
  const mode_t savedMask = umask(0);
  SysSet().writeResult = SysSet().WriteCommLog = true;
  WriteResultLog("r");
  WriteErrLog("e");
  WriteCommDayLog("c");
  WriteEPosLog("p", true);
  auto mode = [this](const std::string& name) {
    struct stat st {};
    return stat(Path(name).c_str(), &st) == 0 ? st.st_mode & 07777 : 07777u;
  };
  for (const char* name : {"Result.txt", "ResultErr.txt", "Log/20240506.txt", "ePOS.txt"})
    EXPECT_EQ(mode(name), 0640u) << name;
  EXPECT_EQ(mode("Log"), 0750u);

  const struct {
    const char* name;
    mode_t before, after;
  } existing[] = {{"Result.txt", 0666, 0640}, {"ResultErr.txt", 0604, 0600}, {"ePOS.txt", 0600, 0600}};
  for (const auto& c : existing) chmod(Path(c.name).c_str(), c.before);
  WriteResultLog("r");
  WriteErrLog("e");
  WriteEPosLog("p", true);
  umask(savedMask);
  for (const auto& c : existing) EXPECT_EQ(mode(c.name), c.after) << c.name;
}

// A log whose name leads to a device (a link to a terminal, a trace into /dev/stderr) gets
// the line, and the device keeps its mode: only files of the log's own are narrowed.
TEST_F(LoggingAt, LogThroughALinkToADeviceLeavesTheDeviceAlone) {
  int master = -1, slave = -1;
  char name[256] = {};
  ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
  ASSERT_EQ(fchmod(slave, 0622), 0);
  ASSERT_EQ(symlink(name, Path("ResultErr.txt").c_str()), 0);
  WriteErrLog("e");
  TOpenLog trace;
  EXPECT_EQ(trace.Open(name), 0);
  EXPECT_TRUE(trace.WriteLine("t", 1));
  struct stat st {};
  ASSERT_EQ(fstat(slave, &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0622u);
  std::string got;
  pollfd p{master, POLLIN, 0};
  char buf[256];
  while (poll(&p, 1, 200) > 0) {
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    got.append(buf, static_cast<size_t>(n));
  }
  EXPECT_NE(got.find(" -- e\r"), std::string::npos) << got;
  EXPECT_NE(got.find("\nt\r"), std::string::npos) << got;
  close(master);
  close(slave);
}

TEST(CommDayLine, Padding) {
  // 机号:12 is 7 bytes + 9 spaces; 命令: plus six Chinese characters is 17 bytes + 3 spaces.
  EXPECT_EQ(FormatCommDayLine(12, "下传菜品信息", 0, "成功"),
            "机号:12" + std::string(9, ' ') + "命令:下传菜品信息" + std::string(3, ' ') + "返回值:0" +
                std::string(8, ' ') + "结果:成功");
  // Longer pieces stay whole.
  EXPECT_EQ(FormatCommDayLine(1234567890, "一二三四五六七八", -2147483647 - 1, ""),
            "机号:1234567890 命令:一二三四五六七八返回值:-2147483648结果:");
}

TEST_F(Logging, NothingThrowsWithoutDirectory) {
  setenv("QUORVEX_HOME", Path("missing").c_str(), 1);
  SysSet().writeResult = SysSet().WriteCommLog = true;
  EXPECT_NO_THROW(WriteErrLog("x"));
  EXPECT_NO_THROW(WriteResultLog("x"));
  EXPECT_NO_THROW(WriteCommDayLog("x"));
  EXPECT_NO_THROW(WriteEPosLog("x", true));
  EXPECT_FALSE(Exists("missing"));
}

}  // namespace
}  // namespace qv::test

// The service layer's plain helpers: port names, start messages, the autostart entry, the
// single-instance lock and the core application's exception handler.
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <filesystem>
#include <stdexcept>

#include "ServiceTestSupport.h"
#include "app/service/Autostart.h"
#include "app/service/CoreApplication.h"
#include "app/service/ServiceUtil.h"
#include "app/service/SingleInstance.h"

namespace qv::test {
namespace {

TEST(ServiceUtil, PortNamesGetThePrefixFromTenOn) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"COM9", "COM9"}, {"COM10", "//./COM10"},           {"Com3", "Com3"},     {"com12", "//./com12"},
      {"COM", "COM"},   {"/dev/ttyUSB0", "/dev/ttyUSB0"}, {"COMx12", "COMx12"}, {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ServicePortName(c.in), c.out) << c.in;
}

TEST(ServiceUtil, StartMessages) {
  EXPECT_EQ(GetStartCommMsg(0), "串口已经打开");
  EXPECT_EQ(GetStartCommMsg(1), "服务正常启动");
  EXPECT_EQ(GetStartCommMsg(-1), "串口打开失败、请核对串口是否有效或已占用!-1");
  EXPECT_EQ(GetStartCommMsg(-6), "串口打开失败、请核对串口是否有效或已占用!-6");
}

TEST(Autostart, ExecValueIsQuotedOnlyWhenNeeded) {
  EXPECT_EQ(DesktopExecValue("/opt/qv/quorvex"), "/opt/qv/quorvex");
  EXPECT_EQ(DesktopExecValue("/opt/my qv/quorvex"), "\"/opt/my qv/quorvex\"");
  // $ is escaped inside the quotes, and that backslash is doubled for the entry's string.
  EXPECT_EQ(DesktopExecValue("/opt/$x/quorvex"), "\"/opt/\\\\$x/quorvex\"");
}

class AutostartTest : public ServiceHome {};

TEST_F(AutostartTest, AddThenRemove) {
  EXPECT_FALSE(AutostartRegistered());
  ASSERT_TRUE(reg_Add_Del(true));  // creates the missing folder
  EXPECT_TRUE(AutostartRegistered());
  const std::string entry = Slurp("autostart/Quorvex_SQLPROC.desktop");
  EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
  // This program, told where its data is.
  const std::string exe = std::filesystem::read_symlink("/proc/self/exe").string();
  EXPECT_NE(entry.find("\nExec=env QUORVEX_HOME=" + dir_ + " " + DesktopExecValue(exe) + "\n"),
            std::string::npos)
      << entry;
  ASSERT_TRUE(reg_Add_Del(false));
  EXPECT_FALSE(Exists("autostart/Quorvex_SQLPROC.desktop"));
  EXPECT_TRUE(reg_Add_Del(false));  // already gone
}

TEST_F(AutostartTest, WithoutADataDirectoryTheEntryStartsThisProgram) {
  unsetenv("QUORVEX_HOME");
  EXPECT_EQ(AutostartExec(), DesktopExecValue(std::filesystem::read_symlink("/proc/self/exe").string()));
  setenv("QUORVEX_HOME", "/srv/my shop", 1);
  EXPECT_EQ(AutostartExec().rfind("env \"QUORVEX_HOME=/srv/my shop\" /", 0), 0u) << AutostartExec();
  setenv("QUORVEX_HOME", dir_.c_str(), 1);
}

TEST_F(AutostartTest, EmptyExecIsNotRegistered) {
  std::filesystem::create_directory(Path("autostart"));
  Put("autostart/Quorvex_SQLPROC.desktop", "[Desktop Entry]\nType=Application\nExec=\n");
  EXPECT_FALSE(AutostartRegistered());
  Put("autostart/Quorvex_SQLPROC.desktop", "[Desktop Entry]\nExec = /x/quorvex\n");
  EXPECT_TRUE(AutostartRegistered());
}

TEST_F(AutostartTest, UnwritableFolderFails) {
  Put("plainfile", "x");
  setenv("QUORVEX_AUTOSTART_DIR", Path("plainfile/autostart").c_str(), 1);
  EXPECT_FALSE(reg_Add_Del(true));
  EXPECT_FALSE(AutostartRegistered());
}

TEST_F(AutostartTest, SingleInstanceLockIsExclusiveAcrossProcesses) {
  const std::string lock = Path("Quorvex.lock");
  ASSERT_TRUE(AcquireSingleInstance(lock));
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    long holder = 0;
    if (AcquireSingleInstance(lock, &holder)) _exit(1);
    _exit(holder == static_cast<long>(getppid()) ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 1) << "the second copy got the lock";
  EXPECT_NE(WEXITSTATUS(status), 2) << "the second copy was not told who holds it";
}

TEST_F(AutostartTest, UnopenableLockFileDoesNotStopTheProgram) {
  EXPECT_TRUE(AcquireSingleInstance(Path("no-such-dir/Quorvex.lock")));
}

// Whoever can write the lock's folder must not make the service create or lock a file
// elsewhere, nor read its lock file.
TEST_F(AutostartTest, LockFileIsPrivateAndNoLinkIsFollowed) {
  const mode_t savedMask = umask(0);
  std::filesystem::create_directory(Path("run"));
  ASSERT_TRUE(AcquireSingleInstance(Path("run/Quorvex.lock")));
  struct stat st {};
  ASSERT_EQ(stat(Path("run/Quorvex.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(Slurp("run/Quorvex.lock"), std::to_string(getpid()) + "\n");

  std::filesystem::create_symlink(Path("victim"), Path("Quorvex.lock"));
  EXPECT_TRUE(AcquireSingleInstance(Path("Quorvex.lock"))) << "runs without the lock";
  umask(savedMask);
  EXPECT_FALSE(Exists("victim")) << "the lock was created through a link";
}

// Without a runtime directory the lock lies in the data directory, the service user's own,
// not in /tmp where any user can take it first.
TEST_F(AutostartTest, LockPathIsTheRuntimeDirElseTheDataDirectory) {
  const char* old = getenv("XDG_RUNTIME_DIR");
  const std::string saved = old ? old : "";
  setenv("XDG_RUNTIME_DIR", "/run/user/77", 1);
  EXPECT_EQ(InstanceLockPath(), "/run/user/77/Quorvex.lock");
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLockPath(), dir_ + "Quorvex.lock");
  if (old) setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

// The program's application object swallows what reaches the loop and hands the message on.
TEST(GlobalHandler, SwallowsWhatReachesTheLoop) {
  ExpectTheLoopSwallowsExceptions<TQvCoreApplication>();
}

}  // namespace
}  // namespace qv::test

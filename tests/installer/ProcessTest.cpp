// brinmoor as a process: the batch mode by its exit status and output, and the window's
// refusal without a display.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Support.h"
#include "TempHome.h"
#include "base/IniFile.h"
#include "installer/core/Texts.h"

extern char** environ;

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

struct TRun {
  int status = -1;  // exit status, or 128 + signal
  std::string out, err;
};

// Runs Program with Args; Env changes the environment (an empty value removes the
// variable); In is its standard input.
TRun RunProgram(const std::string& Program, const std::vector<std::string>& Args,
                const std::map<std::string, std::string>& Env, const std::string& In = "") {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string kv = *e;
    if (!Env.count(kv.substr(0, kv.find('=')))) env.push_back(kv);
  }
  for (const auto& [k, v] : Env)
    if (!v.empty()) env.push_back(k + "=" + v);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    std::vector<char*> argv{const_cast<char*>(Program.c_str())};
    for (const std::string& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    execve(Program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (!In.empty()) (void)!write(in[1], In.data(), In.size());
  close(in[1]);
  TRun r;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  int open = 2;
  while (open > 0 && std::chrono::steady_clock::now() < end) {
    if (poll(fds, 2, 1000) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (open > 0) kill(pid, SIGKILL);
  for (const pollfd& p : fds)
    if (p.fd >= 0) close(p.fd);
  int st = 0;
  waitpid(pid, &st, 0);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return r;
}

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> lines;
  size_t i = 0;
  while (i < Text.size()) {
    size_t j = Text.find('\n', i);
    if (j == std::string::npos) j = Text.size();
    lines.push_back(Text.substr(i, j - i));
    i = j + 1;
  }
  return lines;
}

const std::string kBrinmoor = QV_BRINMOOR;

class Batch : public ::testing::Test {
 protected:
  TRun Brinmoor(const std::vector<std::string>& Args, const std::string& In = "",
                const std::string& Program = kBrinmoor) {
    return RunProgram(Program, Args, {{"QUORVEX_HOME", home.Dir()}}, In);
  }
  std::string Key(const std::string& Name) const {
    return TIniFile(home.Path("datalink.ini")).ReadString("ConnectionString", Name, "(missing)");
  }
  TTempHome home;
};

TEST_F(Batch, HelpAndCommandLineErrors) {
  const TRun help = RunProgram(kBrinmoor, {"--help"}, {});
  EXPECT_EQ(help.status, 0);
  for (const char* o : {"--batch", "--server", "--port", "--instance", "--type", "--user", "--password-file",
                        "--dbname", "--dir", "--yes", "--test", "install"})
    EXPECT_THAT(help.out, HasSubstr(o));
  const struct {
    std::vector<std::string> args;
    const char* says;
  } bad[] = {
      {{"--batch", "--password=secret"}, "never taken from the command line"},
      {{"--batch", "--password", "secret"}, "never taken from the command line"},
      {{"--batch", "--server"}, "needs a value"},
      {{"--batch", "--frobnicate"}, "unknown option"},
      {{"--batch", "instal"}, "unknown argument"},
      {{"--batch", "--type", "2"}, "--type"},
      {{"--batch", "--password-file", "/no/such/file"}, "cannot read"},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.args.back());
    const TRun r = Brinmoor(b.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr(b.says));
    EXPECT_FALSE(home.Exists("datalink.ini"));
  }
}

TEST_F(Batch, NoDisplayNoWindow) {
  for (const std::string& display : {std::string(), std::string(":97")}) {
    SCOPED_TRACE(display);
    const TRun r = RunProgram(kBrinmoor, {"install"},
                              {{"DISPLAY", display},
                               {"WAYLAND_DISPLAY", ""},
                               {"QT_QPA_PLATFORM", ""},
                               {"QUORVEX_HOME", home.Dir()},
                               {"XDG_RUNTIME_DIR", home.Dir()}});
    EXPECT_EQ(r.status, 1);
    EXPECT_THAT(Lines(r.err), ::testing::ElementsAre(HasSubstr("--batch")));
    EXPECT_THAT(r.out, IsEmpty());
  }
}

TEST_F(Batch, SaveFromOptionsAndStandardInput) {
  const TRun r = Brinmoor({"--batch", "--server", "(Local)", "--type=1", "--instance", "SHOP", "--port",
                           "1500", "--user", "shop", "--dbname", "vqerp", "--password-file", "-"},
                          "pa ss\r\nignored\n");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("settings saved"));
  EXPECT_EQ(Key("DBServerType"), "1");
  EXPECT_EQ(Key("Server"), "(Local)\\SHOP");
  EXPECT_EQ(Key("uport"), "1");
  EXPECT_EQ(Key("port"), "1500");
  EXPECT_EQ(Key("UserId"), "shop");
  EXPECT_EQ(Key("PassWord"), "pa ss");
  EXPECT_EQ(Key("DBName"), "vqerp");
  struct stat st {};
  ASSERT_EQ(stat(home.Path("datalink.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Saved again with nothing given, the file keeps what it had (the password included).
  home.Put("pw", "other\n");
  EXPECT_EQ(Brinmoor({"--batch"}).status, 0);
  EXPECT_EQ(Key("PassWord"), "pa ss");
  EXPECT_EQ(Key("Server"), "(Local)\\SHOP");
  EXPECT_EQ(Brinmoor({"--batch", "--password-file", home.Path("pw"), "--no-port"}).status, 0);
  EXPECT_EQ(Key("PassWord"), "other");
  EXPECT_EQ(Key("uport"), "0");
}

class BatchOnServer : public Batch {
 protected:
  void SetUp() override {
    QV_NEED_SERVER();
    name = names.Fresh("qvb");
    home.WriteIni("[ConnectionString]\r\nconnstring=" + TPgNames::Conn(name) + "\r\n");
  }
  void OldDatabase() {
    TPgNames::Exec("postgres", "CREATE DATABASE " + installer::QuotePgName(name));
    TPgNames::Exec(name, "CREATE TABLE marker (v text); INSERT INTO marker VALUES ('old')");
  }
  std::string Marker() { return TPgNames::Scalar(name, "SELECT v FROM marker"); }
  TRun Install(const std::vector<std::string>& More = {}, const std::string& Program = kBrinmoor) {
    std::vector<std::string> args{"--batch", "--dbname", name, "--dir", target.Dir()};
    args.insert(args.end(), More.begin(), More.end());
    args.push_back("install");
    return Brinmoor(args, "", Program);
  }
  TPgNames names;
  std::string name;
  TTempDir target;
};

TEST_F(BatchOnServer, InstallReplaceOnlyWithYes) {
  TRun r = Install();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(Lines(r.out),
              ::testing::ElementsAre("检测连接服务器...", "连接服务器成功!", "安装数据库...",
                                     "数据库安装成功!", "创建数据库成功!", HasSubstr("settings saved")));
  EXPECT_THAT(r.err, IsEmpty());
  EXPECT_THAT(FailedProcedureCheck(TPgNames::Conn(name)), IsEmpty());
  EXPECT_EQ(ServiceLogin(TPgNames::Conn(name)).first, RC_OK);
  EXPECT_EQ(Key("DBName"), name);

  TPgNames::Exec(name, "CREATE TABLE marker (v text); INSERT INTO marker VALUES ('old')");
  r = Install();
  EXPECT_EQ(r.status, 3);
  EXPECT_THAT(r.err, HasSubstr(installer::ReplaceQuestion(name)));
  EXPECT_THAT(r.err, HasSubstr("--yes"));
  EXPECT_EQ(Marker(), "old");

  r = Install({"--yes"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(TPgNames::Scalar(name, "SELECT count(*) FROM pg_tables WHERE tablename = 'marker'"), "0");
  EXPECT_EQ(TPgNames::Scalar(name, "SELECT count(*) FROM dish"), "2000");
}

// A broken script shipped beside a copy of the program: the old database stays.
TEST_F(BatchOnServer, FailuresByStatusAndMessage) {
  OldDatabase();
  TShipped copy(TShipped::kDemo);
  fs::copy_file(kBrinmoor, copy.Path("brinmoor"));
  copy.Put("Data/vqcydata_data.sql", "SELECT broken FROM nowhere;");
  TRun r = Install({"--yes"}, copy.Path("brinmoor"));
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr(std::string(installer::kCreateFailed) + "[PostgreSQL]"));
  EXPECT_THAT(r.err, HasSubstr("nowhere"));
  EXPECT_EQ(Marker(), "old");
  EXPECT_FALSE(TPgNames::Exists(installer::NewName(name)));

  r = Brinmoor({"--batch", "--dbname", "x'; DROP DATABASE " + name + "; --", "install", "--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr(installer::kBadDbName));
  EXPECT_EQ(Marker(), "old");

  r = Install({"--yes", "--dir", target.Path("missing")});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr(installer::kCopyFailed));
  EXPECT_EQ(Marker(), "old");

  home.WriteIni("[ConnectionString]\r\nconnstring=host=" + target.Dir() +
                " dbname=x\r\n");  // no server there
  r = Install();
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr(installer::kConnectFailed));
  EXPECT_EQ(Key("DBName"), name) << "a connection failure still saves the settings";
}

TEST_F(BatchOnServer, ConnectionTestByMode) {
  TRun r = Brinmoor({"--batch", "--test", "install"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "测试连接成功\n");
  r = Brinmoor({"--batch", "--test"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("测试连接失败!"));
  EXPECT_THAT(r.err, HasSubstr(name));
  EXPECT_FALSE(home.Slurp("datalink.ini").find("DBName") != std::string::npos) << "a test saves nothing";
}

}  // namespace
}  // namespace qv::test

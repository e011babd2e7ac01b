// The service's standard output without a window: the lines, each change of the database
// link once, and a console that counts as active for the automatic restart.
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "ServiceTestSupport.h"
#include "app/service/ConsoleView.h"
#include "app/service/Service.h"

namespace qv::test {
namespace {

// Standard output into a temporary file for as long as it lives; Take() ends the capture.
// Nothing may be asserted meanwhile: a failure message would land in the capture.
class TStdoutCapture {
 public:
  TStdoutCapture() : file_(std::tmpfile()) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    dup2(fileno(file_), STDOUT_FILENO);
  }
  ~TStdoutCapture() { Take(); }
  std::string Take() {
    if (saved_ < 0) return text_;
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    saved_ = -1;
    std::rewind(file_);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) text_.append(buf, n);
    std::fclose(file_);
    return text_;
  }

 private:
  std::FILE* file_;
  int saved_ = -1;
  std::string text_;
};

TEST(ConsoleView, PrintsStatusRowsAndEachChangeOfTheLinkOnce) {
  TConsoleView view;
  TStdoutCapture capture;
  view.SetServiceState(1);
  view.ShowBaseChannel(3);
  view.ClearBaseInfo();
  view.ShowBaseInfo("V1.0", 4660);
  view.ShowPosList({{"11", ""}});
  view.ShowStatus(QStringLiteral("服务正常启动"));
  view.SetNetState(false);  // the first state is always news
  view.SetNetState(false);
  view.SetNetState(true);
  view.SetNetState(true);
  view.SetNetState(false);
  view.RowAdded({"0011", "登陆", "返回OK"});
  view.LastRowChanged({"0011", "下传菜品", "正在发送:10/25"});
  view.RowsCleared();
  const std::string out = capture.Take();
  EXPECT_EQ(out,
            "服务正常启动\n数据库连接 断开\n数据库连接 正常\n数据库连接 断开\n"
            "0011\t登陆\t返回OK\n0011\t下传菜品\t正在发送:10/25\n");
  EXPECT_TRUE(view.IsMainFormActive());
  EXPECT_TRUE(view.CheckedTerminals().empty());
}

class ConsoleService : public ServiceHome {};

TEST_F(ConsoleService, TheAutomaticRestartNeedsNoActiveWindow) {
  PutIni("[CommSet]\nCommNo=/nonexistent/qv-tty\n");
  TFakeDb db;
  TConsoleView view;
  auto svc = std::make_unique<TService>(db, view);
  std::string started, watched;
  {
    TStdoutCapture capture;
    svc->FormCreate();
    started = capture.Take();
  }
  svc->AutoRunFlag = true;
  {
    TStdoutCapture capture;
    svc->tmrLinkTimer();
    watched = capture.Take();
  }
  EXPECT_EQ(started, "串口打开失败、请核对串口是否有效或已占用!-1\n");
  EXPECT_EQ(watched,
            "串口打开失败、请核对串口是否有效或已占用!-1\n"
            "ALL\t系统提示\t连接数据库失败!系统自动连接失败次数:1\n");
  EXPECT_TRUE(svc->AutoRunFlag) << "a failed start keeps trying";
}

}  // namespace
}  // namespace qv::test

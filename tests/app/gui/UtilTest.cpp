// The window layer's plain helpers: base-station command names, the link string and the
// window application's exception handler.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <stdexcept>

#include "GuiTestSupport.h"
#include "app/gui/QvApplication.h"
#include "app/gui/uCommSet.h"
#include "app/gui/uOtherSet.h"

namespace qv::test {
namespace {

TEST(WindowUtil, BaseCommandNames) {
  const std::pair<int, const char*> cases[] = {{0, "检测电台"},      {5, "设置信道"},      {6, "读取信道"},
                                               {14, "设置全部参数"}, {21, "读取全部参数"}, {160, "未知操作"},
                                               {-1, "未知操作"}};
  for (const auto& [code, name] : cases) EXPECT_EQ(iCmdToStr(code), name) << code;
}

TEST(WindowUtil, LinkStringTrimsEveryField) {
  EXPECT_EQ(BuildLinkString(false, " sa ", "pw ", "srv ", true, " 1500 ", " db"),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=db;User ID=sa;"
            "Password=pw;Data Source=srv,1500");
  EXPECT_EQ(BuildLinkString(true, "sa", "pw", "srv", false, "1433", "db"),
            "Provider=SQLOLEDB.1;Integrated Security=SSPI;Persist Security Info=False;"
            "Initial Catalog=db;Data Source=srv");
}

// The program's application object swallows what reaches the loop and hands the message on.
TEST(GlobalHandler, SwallowsWhatReachesTheLoop) {
  ExpectTheLoopSwallowsExceptions<TQvApplication>();
}

}  // namespace
}  // namespace qv::test

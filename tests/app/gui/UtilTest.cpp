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

class Thrower : public QObject {
 public:
  std::string message;
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) throw std::runtime_error(message);
    return QObject::event(e);
  }
};

TEST(GlobalHandler, SwallowsWhatReachesTheLoop) {
  auto* app = dynamic_cast<TQvApplication*>(QCoreApplication::instance());
  ASSERT_NE(app, nullptr);
  std::vector<std::string> seen;
  app->OnException = [&seen](const std::string& m) { seen.push_back(m); };
  Thrower t;
  t.message = "[DBNETLIB]一般性网络错误。请检查网络文档。";
  QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
  QCoreApplication::sendPostedEvents(&t);
  t.message = "other";
  QEvent direct(QEvent::User);
  EXPECT_FALSE(QCoreApplication::sendEvent(&t, &direct));
  app->OnException = nullptr;
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_TRUE(IsNetworkErrorText(seen[0])) << seen[0];
  EXPECT_EQ(seen[1], "other");
  EXPECT_FALSE(IsNetworkErrorText(seen[1]));
}

}  // namespace
}  // namespace qv::test

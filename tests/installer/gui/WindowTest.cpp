// The installer's window driven as a user drives it: its fields and enabling rules, the
// two modes, saving, the input check, the connection test and installing into the
// PostgreSQL fixture, every modal box read and answered.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <functional>
#include <memory>

#include "PgFixture.h"
#include "Support.h"
#include "TempHome.h"
#include "base/IniFile.h"
#include "base/Text.h"
#include "db/Db.h"
#include "installer/core/Texts.h"
#include "installer/gui/uDBParamSet.h"

namespace qv::test {
namespace {

using namespace qv::installer;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

QString U(const char* s) {
  return QString::fromUtf8(s);
}
QString U(const std::string& s) {
  return QString::fromStdString(s);
}

struct TBox {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton def = QMessageBox::NoButton;
};

// Answers every message box that comes up, in turn, with the next answer (OK when none is
// left) and keeps what it showed; a folder chooser goes to OnFolder.
class TModals {
 public:
  explicit TModals(std::vector<QMessageBox::StandardButton> Answers = {}) : answers_(std::move(Answers)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(5);
  }
  std::vector<TBox> Boxes;
  std::function<void(QFileDialog*)> OnFolder;
  std::vector<QString> Texts() const {
    std::vector<QString> t;
    for (const TBox& b : Boxes) t.push_back(b.text);
    return t;
  }

 private:
  void Poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || !w->isVisible()) return;
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
      TBox b{box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
             box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton};
      Boxes.push_back(b);
      const QMessageBox::StandardButton answer =
          next_ < answers_.size() ? answers_[next_++] : QMessageBox::Ok;
      if (QAbstractButton* button = box->button(answer))
        button->click();
      else
        box->reject();
    } else if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
      if (OnFolder) OnFolder(dialog);
      if (dialog->isVisible()) dialog->reject();
    }
  }
  std::vector<QMessageBox::StandardButton> answers_;
  size_t next_ = 0;
  QTimer timer_;
};

// Counts the sessions a window opens (to show that saving contacts no server).
struct TNoServer {
  int opens = 0;
  TSessionFactory Factory() {
    return [this] {
      struct S final : IDbSession {
        int& n;
        explicit S(int& c) : n(c) {}
        void Open(const std::string&, int) override {
          ++n;
          throw std::runtime_error("no server here");
        }
        void Close() noexcept override {}
        void Execute(const std::string&, const std::vector<std::string>&) override {}
        TRows Query(const std::string&, const std::vector<std::string>&) override { return {}; }
      };
      return std::make_unique<S>(opens);
    };
  }
};

class Window : public ::testing::Test {
 protected:
  std::unique_ptr<Tfrm_DBParamSet> Open(const std::vector<std::string>& Args,
                                        TSessionFactory Sessions = NewAdoSession) {
    auto w = std::make_unique<Tfrm_DBParamSet>(Args, TInstallerEnv{shipped.Dir(), std::move(Sessions)});
    w->show();
    QApplication::processEvents();
    return w;
  }
  std::string Key(const std::string& Name) const {
    return TIniFile(home.Path("datalink.ini")).ReadString("ConnectionString", Name, "(missing)");
  }
  // The keys of [ConnectionString] in the order of the file.
  std::vector<std::string> KeyOrder() const {
    std::vector<std::string> keys;
    const std::string text = GbkToUtf8(home.Slurp("datalink.ini"));
    bool in = false;
    size_t i = 0;
    while (i < text.size()) {
      size_t j = text.find("\r\n", i);
      if (j == std::string::npos) j = text.size();
      const std::string line = text.substr(i, j - i);
      i = j + 2;
      if (!line.empty() && line[0] == '[')
        in = SameText(line, "[ConnectionString]");
      else if (in && line.find('=') != std::string::npos)
        keys.push_back(line.substr(0, line.find('=')));
    }
    return keys;
  }

  TTempHome home;
  TShipped shipped{TShipped::kDemo};
};

TEST_F(Window, LayoutCaptionsAndEnabling) {
  auto w = Open({});
  EXPECT_EQ(w->windowTitle(), U("湘味小馆演示数据库 - 服务器端安装程序"));
  EXPECT_EQ(w->lblHeader->text(), U("数据库安装/配置"));
  ASSERT_EQ(w->cbbtype->count(), 2);
  EXPECT_EQ(w->cbbtype->itemText(0), U("MS-SQLSERVER"));
  EXPECT_EQ(w->cbbtype->itemText(1), U("MS-SQLSERVER 2005"));
  EXPECT_EQ(w->edt1->text(), U("SQLEXPRESS"));
  EXPECT_EQ(w->edt_ServerName->text(), U("(Local)"));
  EXPECT_EQ(w->chk2->text(), U("端口："));
  EXPECT_EQ(w->edtPort->text(), U("1433"));
  EXPECT_EQ(w->chkSafe->text(), U("使用系统用户登陆数据库系统"));
  EXPECT_EQ(w->edt_ConnUser->text(), U("sa"));
  EXPECT_EQ(w->edt_Pwd->echoMode(), QLineEdit::Password);
  EXPECT_EQ(w->chk1->text(), U("指定安装的数据库名称："));
  EXPECT_FALSE(w->chk1->isChecked());
  EXPECT_EQ(w->edt_DBName->text(), U("vqcydata"));
  EXPECT_EQ(w->btn1->text(), U("测试连接"));
  EXPECT_EQ(w->BitBtn1->text(), U("保存"));
  EXPECT_EQ(w->BitBtn2->text(), U("取消"));
  EXPECT_EQ(w->Button1->text(), U("浏览"));
  // Save mode has no directory.
  EXPECT_FALSE(w->edt_DataPath->isVisible());
  EXPECT_FALSE(w->Button1->isVisible());
  EXPECT_FALSE(w->lblDataPath->isVisible());

  // The rules follow each change at once.
  EXPECT_FALSE(w->edt1->isEnabled());
  w->cbbtype->setCurrentIndex(1);
  EXPECT_TRUE(w->edt1->isEnabled());
  w->cbbtype->setCurrentIndex(0);
  EXPECT_FALSE(w->edt1->isEnabled());
  EXPECT_FALSE(w->edtPort->isEnabled());
  w->chk2->click();
  EXPECT_TRUE(w->edtPort->isEnabled());
  EXPECT_TRUE(w->edt_ConnUser->isEnabled());
  w->chkSafe->click();
  EXPECT_FALSE(w->edt_ConnUser->isEnabled());
  EXPECT_FALSE(w->edt_Pwd->isEnabled());
  w->chkSafe->click();
  EXPECT_TRUE(w->edt_Pwd->isEnabled());
  EXPECT_FALSE(w->edt_DBName->isEnabled());
  w->chk1->click();
  EXPECT_TRUE(w->edt_DBName->isEnabled());
}

TEST_F(Window, ModesPicturesAndSetup) {
  for (const auto& [args, install] :
       std::vector<std::pair<std::vector<std::string>, bool>>{{{"install"}, true},
                                                              {{"INSTALL"}, true},
                                                              {{"x", "InStAlL"}, true},
                                                              {{"install", "x"}, false},
                                                              {{}, false}}) {
    auto w = Open(args);
    EXPECT_EQ(w->BitBtn1->text(), U(install ? "安装" : "保存")) << (args.empty() ? "" : args.back());
    EXPECT_EQ(w->edt_DataPath->isVisible(), install);
    EXPECT_EQ(w->Button1->isVisible(), install);
    if (install) {
      EXPECT_EQ(w->edt_DataPath->text(), U(home.Dir()));
    }
  }
  // Both header pictures are our JPEGs; the logo shows as SetUp.ini says.
  for (const char* res : {":/brinmoor/header.jpg", ":/brinmoor/logo.jpg"}) {
    QImageReader r{QString::fromLatin1(res)};
    EXPECT_EQ(r.format(), QByteArray("jpeg")) << res;
    EXPECT_FALSE(r.read().isNull()) << res;
  }
  auto w = Open({});
  EXPECT_FALSE(w->imgHeader->pixmap().isNull());
  EXPECT_TRUE(w->imgLogo->isVisible());
  shipped.SetUp("[Options]\r\nProductName=别的产品\r\nShowImage=Other\r\n");
  w = Open({});
  EXPECT_EQ(w->windowTitle(), U("别的产品"));
  EXPECT_FALSE(w->imgLogo->isVisible());
  std::filesystem::remove(shipped.Path("SetUp.ini"));
  w = Open({"install"});
  EXPECT_EQ(w->windowTitle(), QString());
  EXPECT_EQ(w->Setup.DataFileName, "");
}

TEST_F(Window, DataLinkReadIntoTheFields) {
  home.WriteIni(
      "[connectionstring]\r\nDBSERVERTYPE=1\r\nsvrinstance=SHOP\r\nserver=10.0.0.5\\SHOP\r\nuport=1\r\n"
      "ntauth=1\r\nport=1500\r\ndbname=vqerp\r\npassword=pw\r\nuserid=admin\r\n");
  auto w = Open({"install"});
  EXPECT_EQ(w->cbbtype->currentIndex(), 1);
  EXPECT_TRUE(w->edt1->isEnabled());
  EXPECT_EQ(w->edt1->text(), U("SHOP"));
  EXPECT_EQ(w->edt_ServerName->text(), U("10.0.0.5\\SHOP"));
  EXPECT_TRUE(w->chk2->isChecked());
  EXPECT_TRUE(w->edtPort->isEnabled());
  EXPECT_EQ(w->edtPort->text(), U("1500"));
  EXPECT_TRUE(w->chkSafe->isChecked());
  EXPECT_FALSE(w->edt_Pwd->isEnabled());
  EXPECT_EQ(w->edt_Pwd->text(), U("pw"));
  EXPECT_EQ(w->edt_ConnUser->text(), U("sa"));
  EXPECT_EQ(w->edt_DBName->text(), U("vqerp"));
}

TEST_F(Window, SaveWritesTheKeysInOrder) {
  TNoServer none;
  auto w = Open({}, none.Factory());
  w->cbbtype->setCurrentIndex(1);
  w->edt_ConnUser->setText(U(" admin "));
  w->edt_Pwd->setText(U("p w"));
  w->chk2->setChecked(true);
  w->edtPort->setText(U("abc"));
  w->BitBtn1->click();
  EXPECT_FALSE(w->isVisible()) << "saving closes the window";
  EXPECT_EQ(none.opens, 0) << "saving contacts no server";
  EXPECT_THAT(KeyOrder(), ElementsAre("DBServerType", "NTAuth", "UserId", "PassWord", "DBName", "svrInstance",
                                      "uport", "port", "Server"));
  EXPECT_EQ(Key("DBServerType"), "1");
  EXPECT_EQ(Key("NTAuth"), "0");
  EXPECT_THAT(GbkToUtf8(home.Slurp("datalink.ini")), ::testing::HasSubstr("\r\nUserId= admin \r\n"))
      << "as typed";
  EXPECT_EQ(Key("PassWord"), "p w");
  EXPECT_EQ(Key("DBName"), "vqcydata");
  EXPECT_EQ(Key("svrInstance"), "SQLEXPRESS");
  EXPECT_EQ(Key("uport"), "1");
  EXPECT_EQ(Key("port"), "1433");
  EXPECT_EQ(Key("Server"), "(Local)\\SQLEXPRESS");
  struct stat st {};
  ASSERT_EQ(stat(home.Path("datalink.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // Saved again as it was read back, the combined server text stays as it is.
  w = Open({}, none.Factory());
  EXPECT_EQ(w->edt_ServerName->text(), U("(Local)\\SQLEXPRESS"));
  w->edtPort->setText(U("1500"));
  w->BitBtn1->click();
  EXPECT_EQ(Key("Server"), "(Local)\\SQLEXPRESS");
  EXPECT_EQ(Key("port"), "1500");
  // Type 0 keeps the server as typed.
  w = Open({}, none.Factory());
  w->cbbtype->setCurrentIndex(0);
  w->edt_ServerName->setText(U("db1"));
  w->BitBtn1->click();
  EXPECT_EQ(Key("Server"), "db1");
}

TEST_F(Window, InputCheckMessagesInOrder) {
  TNoServer none;
  auto w = Open({"install"}, none.Factory());
  w->chk1->setChecked(true);
  const struct {
    std::function<void()> make;
    const char* message;
  } steps[] = {
      {[&] { w->edt_DBName->setText(U("  ")); }, kNeedDbName},
      {[&] { w->edt_DBName->setText(U("x'; DROP TABLE dish; --")); }, kBadDbName},
      {[&] {
         w->edt_DBName->setText(U(" shop "));
         w->edt_ServerName->setText(U(" "));
       },
       kNeedServer},
      {[&] {
         w->edt_ServerName->setText(U("db"));
         std::filesystem::remove(shipped.Path("Data/vqcydata.sql"));
       },
       kNoDataFile},
      {[&] {
         shipped.Put("Data/vqcydata.sql", "select 1;");
         std::filesystem::remove(shipped.Path("Data/vqcydata_data.sql"));
       },
       kNoLogFile},
      {[&] {
         shipped.Put("Data/vqcydata_data.sql", "select 1;");
         w->edt_DataPath->setText(U(" "));
       },
       kNeedDirectory},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.message);
    s.make();
    TModals modals;
    w->BitBtn1->click();
    ASSERT_EQ(modals.Boxes.size(), 1u);
    EXPECT_EQ(modals.Boxes[0].text, U(s.message));
    EXPECT_EQ(modals.Boxes[0].title, U("信息提示"));
    EXPECT_EQ(modals.Boxes[0].icon, QMessageBox::Information);
    EXPECT_TRUE(w->isVisible()) << "the window stays for another try";
  }
  EXPECT_EQ(w->focusWidget(), w->edt_DataPath);
  EXPECT_EQ(none.opens, 0);
  EXPECT_FALSE(home.Exists("datalink.ini"));
}

TEST_F(Window, BrowseReplacesTheDirectory) {
  TTempDir chosen;
  auto w = Open({"install"});
  TModals modals;
  QString title;
  modals.OnFolder = [&](QFileDialog* d) {
    title = d->windowTitle();
    d->setDirectory(U(chosen.Dir()));
    QMetaObject::invokeMethod(d, "accept");
  };
  w->Button1->click();
  EXPECT_EQ(title, U("选择数据库文件存放目录"));
  EXPECT_EQ(w->edt_DataPath->text() + "/", U(chosen.Dir()));
  modals.OnFolder = [](QFileDialog* d) { d->reject(); };
  w->Button1->click();
  EXPECT_EQ(w->edt_DataPath->text() + "/", U(chosen.Dir())) << "a cancelled choice changes nothing";
}

// ---------------------------------------------------------------------------------------
// Against the PostgreSQL fixture.

class WindowOnServer : public Window {
 protected:
  void SetUp() override {
    QV_NEED_SERVER();
    name = names.Fresh("qvw");
    home.WriteIni("[ConnectionString]\r\nconnstring=" + TPgNames::Conn(name) + "\r\nDBName=" + name + "\r\n");
  }
  std::unique_ptr<Tfrm_DBParamSet> Installer() {
    auto w = Open({"install"});
    w->edt_DataPath->setText(U(target.Dir()));
    return w;
  }
  void OldDatabase() {
    TPgNames::Exec("postgres", "CREATE DATABASE " + QuotePgName(name));
    TPgNames::Exec(name, "CREATE TABLE marker (v text); INSERT INTO marker VALUES ('old')");
  }
  std::string Marker() { return TPgNames::Scalar(name, "SELECT v FROM marker"); }
  bool Saved() const { return home.Slurp("datalink.ini").find("PassWord=") != std::string::npos; }

  TPgNames names;
  std::string name;
  TTempDir target;
};

TEST_F(WindowOnServer, InstallFresh) {
  auto w = Installer();
  TModals modals;
  w->BitBtn1->click();
  ASSERT_EQ(modals.Boxes.size(), 1u);
  EXPECT_EQ(modals.Boxes[0].text, U("创建数据库成功!"));
  EXPECT_EQ(modals.Boxes[0].title, U("信息提示"));
  EXPECT_EQ(w->stat1->currentMessage(), U("数据库安装成功!"));
  EXPECT_FALSE(w->isVisible());
  EXPECT_TRUE(Saved());
  EXPECT_THAT(FailedProcedureCheck(TPgNames::Conn(name)), IsEmpty());
}

TEST_F(WindowOnServer, ReplaceAskedOkAndCancel) {
  OldDatabase();
  {
    auto w = Installer();
    TModals modals({QMessageBox::Cancel});
    w->BitBtn1->click();
    ASSERT_EQ(modals.Boxes.size(), 1u);
    const TBox& ask = modals.Boxes[0];
    EXPECT_EQ(ask.title, U("警告"));
    EXPECT_EQ(ask.text, U("数据库名:" + name + "已经安装，如果继续，原有数据将会被替换！确定是否继续?"));
    EXPECT_EQ(ask.icon, QMessageBox::Question);
    EXPECT_EQ(ask.buttons, QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(ask.def, QMessageBox::Cancel);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(Marker(), "old");
    EXPECT_FALSE(Saved());
  }
  auto w = Installer();
  TModals modals({QMessageBox::Ok});
  w->BitBtn1->click();
  EXPECT_EQ(modals.Texts(), (std::vector<QString>{modals.Boxes.at(0).text, U("创建数据库成功!")}));
  EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(TPgNames::Scalar(name, "SELECT count(*) FROM dish"), "2000");
  EXPECT_THAT(FailedProcedureCheck(TPgNames::Conn(name)), IsEmpty());
}

TEST_F(WindowOnServer, FailuresKeepTheOldDatabase) {
  OldDatabase();
  {
    auto w = Installer();
    w->edt_DataPath->setText(U(target.Path("missing")));
    TModals modals({QMessageBox::Ok});
    w->BitBtn1->click();
    ASSERT_EQ(modals.Boxes.size(), 2u);
    EXPECT_EQ(modals.Boxes[1].text, U("复制文件失败!" + shipped.Path("Data/vqcydata.sql")));
    EXPECT_EQ(modals.Boxes[1].title, U("信息提示"));
    EXPECT_EQ(modals.Boxes[1].icon, QMessageBox::NoIcon);
    EXPECT_TRUE(w->isVisible()) << "open for another try";
    EXPECT_FALSE(Saved());
    EXPECT_EQ(Marker(), "old");
  }
  shipped.Put("Data/vqcydata_data.sql", "SELECT no_such_column FROM dish;");
  auto w = Installer();
  TModals modals({QMessageBox::Ok});
  w->BitBtn1->click();
  ASSERT_EQ(modals.Boxes.size(), 2u);
  EXPECT_TRUE(modals.Boxes[1].text.startsWith(U("创建数据库失败![PostgreSQL]")))
      << modals.Boxes[1].text.toStdString();
  EXPECT_TRUE(modals.Boxes[1].text.contains(U("no_such_column")));
  EXPECT_EQ(modals.Boxes[1].title, U("数据库创建程序"));
  EXPECT_FALSE(w->isVisible()) << "a failed load ends the run, settings saved";
  EXPECT_TRUE(Saved());
  EXPECT_EQ(Marker(), "old");
  EXPECT_FALSE(TPgNames::Exists(NewName(name)));
}

// Install mode tests the server's maintenance database, save mode the configured one; the
// override beats every field.
TEST_F(WindowOnServer, ConnectionTestByModeAndOverride) {
  const auto test = [&](const std::vector<std::string>& args) {
    auto w = Open(args);
    w->edt_ServerName->setText(U("no-such-host.invalid"));
    TModals modals;
    w->btn1->click();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(modals.Boxes.size(), 1u);
    EXPECT_EQ(modals.Boxes.at(0).title, U("信息提示"));
    EXPECT_EQ(modals.Boxes.at(0).icon, QMessageBox::Information);
    return modals.Boxes.at(0).text;
  };
  EXPECT_EQ(test({"install"}), U("测试连接成功"));  // the database does not exist yet
  const QString failed = test({});
  EXPECT_TRUE(failed.startsWith(U("测试连接失败!"))) << failed.toStdString();
  EXPECT_TRUE(failed.contains(U(name))) << failed.toStdString();
  OldDatabase();
  EXPECT_EQ(test({}), U("测试连接成功"));
  // Without the override the fields count: a SQL Server that is not there.
  home.WriteIni("[ConnectionString]\r\nServer=127.0.0.1,1\r\n");
  EXPECT_TRUE(test({"install"}).startsWith(U("测试连接失败!")));
}

}  // namespace
}  // namespace qv::test

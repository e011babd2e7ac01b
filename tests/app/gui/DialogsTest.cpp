// The dialogs: the add-terminal checks, the base-station dialog on a pseudo-terminal, the
// options dialog and the download selection, each saving exactly its keys.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>

#include "GuiTestSupport.h"
#include "base/Settings.h"
#include "app/service/QtPump.h"
#include "app/gui/uCommSet.h"
#include "app/gui/uDownSet.h"
#include "app/gui/uOtherSet.h"
#include "app/gui/uPosSet.h"

namespace qv::test {
namespace {

using TKeys = std::map<std::string, std::string>;

// --- add terminal ---

class PosSetDialog : public GuiHome {};

TEST_F(PosSetDialog, ChecksTheNumber) {
  const std::vector<std::string> list = {"7", "12"};
  const struct {
    const char* input;
    const char* message;  // nullptr: accepted
    const char* ret;
  } cases[] = {
      {"", "机号不能为空!", ""},
      {"   ", "机号不能为空!", ""},
      {"7", "机号已经存在!号码为:7", ""},
      {" 12 ", "机号已经存在!号码为:12", ""},
      {"007", nullptr, "007,V4.00"},
      {"0", "机号输入不正确!请输入大于0的整数", ""},
      {"2147483648", "机号输入不正确!请输入大于0的整数", ""},
      {"2147483647", nullptr, "2147483647,V4.00"},
      {"1234567", nullptr, "1234567,V4.00"},
  };
  for (const auto& c : cases) {
    TfrmPosSet dlg(list);
    TBoxSeen box;
    OnModal<TfrmPosSet>([&](TfrmPosSet* d) {
      d->edtPADNo->setText(QString::fromUtf8(c.input));
      if (c.message) AnswerBox(box, QMessageBox::Ok);
      d->btnSave->click();
      if (c.message) {
        EXPECT_TRUE(d->isVisible()) << "stays open after a rejected number";
        d->btnClose->click();
      }
    });
    dlg.exec();
    EXPECT_EQ(box.seen, c.message != nullptr) << c.input;
    if (c.message) {
      EXPECT_EQ(box.text, QString::fromUtf8(c.message)) << c.input;
      EXPECT_EQ(box.buttons, QMessageBox::Ok);
    }
    EXPECT_EQ(dlg.Ret_Value, c.ret) << c.input;
  }
}

TEST_F(PosSetDialog, LayoutAndKeyboard) {
  TfrmPosSet dlg({});
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("添加"));
  EXPECT_EQ(dlg.edtPADNo->maxLength(), 10);
  EXPECT_FALSE(dlg.cbbVer->isEnabled());
  EXPECT_EQ(dlg.cbbVer->currentText(), QStringLiteral("V4.00"));
  EXPECT_EQ(dlg.lblTip->text(), QStringLiteral("机号为盘点机序列号的后7位"));
  int pos = 0;
  QString typed = "12a";
  EXPECT_EQ(dlg.edtPADNo->validator()->validate(typed, pos), QValidator::Invalid);
  typed = "0123";
  EXPECT_EQ(dlg.edtPADNo->validator()->validate(typed, pos), QValidator::Acceptable);
}

// --- base station ---

class CommSetDialog : public GuiHome {};

TEST_F(CommSetDialog, SavingWithoutThePortWritesOnlyPortAndSpeed) {
  PutIni("[CommSet]\nCommNo=Com3\nChannelNo=4\n");
  TfrmCommSet dlg(QtPump());
  OnModal<TfrmCommSet>([](TfrmCommSet* d) {
    EXPECT_EQ(d->cbbComm->currentText(), QStringLiteral("Com3"));
    EXPECT_EQ(d->cbbRate->currentText(), QStringLiteral("115200"));
    EXPECT_FALSE(d->cbbRate->isEnabled());
    EXPECT_TRUE(d->btnOpen->isEnabled());
    EXPECT_FALSE(d->btnReadChannel->isEnabled());
    EXPECT_EQ(d->cbbChannel->count(), 8);
    d->btnSave->click();
  });
  dlg.exec();
  EXPECT_EQ(ReadIni(Path("datalink.ini"))["CommSet"],
            (TKeys{{"CommNo", "Com3"}, {"ChannelNo", "4"}, {"BaudRate", "115200"}}));
}

TEST_F(CommSetDialog, PortThatFailsLeavesOnlyOpen) {
  PutIni("[CommSet]\nCommNo=/nonexistent/qv-tty\n");
  TfrmCommSet dlg(QtPump());
  OnModal<TfrmCommSet>([](TfrmCommSet* d) {
    d->btnOpen->click();
    EXPECT_EQ(d->stat1Panel[1]->text(), QStringLiteral("串口打开失败、请核对串口是否有效或已占用!-1"));
    EXPECT_TRUE(d->btnOpen->isEnabled());
    EXPECT_FALSE(d->btnClose->isEnabled());
    EXPECT_FALSE(d->btnSetChannel->isEnabled());
    d->btnExit->click();
  });
  dlg.exec();
  EXPECT_FALSE(Exists("datalink.ini") && ReadIni(Path("datalink.ini"))["CommSet"].count("BaudRate"));
}

TEST_F(CommSetDialog, ReadsAndSetsTheChannelThenSavesIt) {
  TPtyStation station;
  station.Answer(6, {5, 0});
  station.Answer(5, {20, 0});
  PutIni("[SysSet]\nSYS_SERVER_TYPE=0\n[CommSet]\nCommNo=" + station.SlavePath() + "\n");
  TfrmCommSet dlg(QtPump());
  OnModal<TfrmCommSet>([&](TfrmCommSet* d) {
    EXPECT_EQ(d->cbbChannel->count(), 32) << "ordering mode offers 1 to 32";
    d->btnOpen->click();
    EXPECT_EQ(d->stat1Panel[1]->text(), QStringLiteral("服务正常启动"));
    EXPECT_FALSE(d->btnOpen->isEnabled());
    d->btnReadChannel->click();
    EXPECT_EQ(d->cbbChannel->currentText(), QStringLiteral("5"));
    EXPECT_EQ(d->stat1Panel[1]->text(), QStringLiteral("读取信道-成功!"));
    d->cbbChannel->setEditText("20");
    d->btnSetChannel->click();
    EXPECT_EQ(d->stat1Panel[1]->text(), QStringLiteral("设置信道-成功!"));
    EXPECT_TRUE(d->btnReadChannel->isEnabled());
    d->btnSave->click();
  });
  dlg.exec();
  const auto frames = station.Frames();
  ASSERT_EQ(frames.size(), 2u);
  const std::vector<uint8_t> set = {0xAF, 0xAF, 0x00, 0x00, 0xAF, 0x80, 0x05, 0x02, 20, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(frames[1].begin(), frames[1].begin() + 10), set);
  EXPECT_EQ(frames[0][6], 6);
  EXPECT_EQ(ReadIni(Path("datalink.ini"))["CommSet"], (TKeys{{"CommNo", station.SlavePath()},
                                                             {"BaudRate", "115200"},
                                                             {"ChannelNo", "20"},
                                                             {"SkyBaudRate", "115200"},
                                                             {"WirelessRate", "115200"}}));
}

TEST_F(CommSetDialog, OpenPortSaveWithoutReadingWritesAnEmptyChannel) {
  TPtyStation station;
  PutIni("[CommSet]\nCommNo=" + station.SlavePath() + "\nChannelNo=4\n");
  TfrmCommSet dlg(QtPump());
  OnModal<TfrmCommSet>([](TfrmCommSet* d) {
    d->btnOpen->click();
    d->btnSave->click();
  });
  dlg.exec();
  EXPECT_EQ(ReadIni(Path("datalink.ini"))["CommSet"]["ChannelNo"], "");
  EXPECT_EQ(dlg.cmSet.Handle(), -1) << "closing the dialog closes its port";
}

TEST_F(CommSetDialog, SilentStationLeavesTheChannelAlone) {
  TPtyStation station;
  PutIni("[CommSet]\nCommNo=" + station.SlavePath() + "\n");
  TfrmCommSet dlg(QtPump());
  OnModal<TfrmCommSet>([&](TfrmCommSet* d) {
    d->btnOpen->click();
    d->cbbChannel->setEditText("2");
    d->btnReadChannel->click();
    EXPECT_EQ(d->cbbChannel->currentText(), QStringLiteral("2"));
    EXPECT_TRUE(d->stat1Panel[1]->text().isEmpty());
    d->btnClose->click();
    EXPECT_EQ(d->stat1Panel[1]->text(), QStringLiteral("关闭串口成功！"));
    EXPECT_TRUE(d->btnOpen->isEnabled());
    d->btnExit->click();
  });
  dlg.exec();
  EXPECT_EQ(station.Frames().size(), 1u);
}

// --- options ---

class OtherSetDialog : public GuiHome {};

TEST_F(OtherSetDialog, SaveWritesExactlyItsKeys) {
  PutIni(
      "[ConnectionString]\nUserId=admin\nport=abc\nServer=db1 \n[SysSet]\nAppTitle=标题\n"
      "ShopNO=S01\nmaxsizeResult=x\n");
  TFakeDb db;
  TfrmOtherSet dlg(db);
  OnModal<TfrmOtherSet>([](TfrmOtherSet* d) {
    EXPECT_EQ(d->edt_ConnUser->text(), QStringLiteral("sa")) << "the user box always opens with sa";
    EXPECT_EQ(d->edtPort->text(), QStringLiteral("1433"));
    EXPECT_FALSE(d->edtPort->isEnabled());
    EXPECT_EQ(d->edt_DBName->text(), QStringLiteral("vqcydata"));
    EXPECT_EQ(d->edt5->text(), QStringLiteral("x"));
    EXPECT_FALSE(d->edtShopNo->isHidden()) << "stocktaking mode shows the shop code";
    EXPECT_TRUE(d->edtCommPsw->isHidden());
    EXPECT_EQ(d->edtShopNo->text(), QStringLiteral("S01"));
    d->edtPort->setText("12ab");
    d->edtShopNo->setText(" S02 ");
    d->edt_ServerName->setText("db1 ");
    d->BitBtn1->click();
  });
  dlg.exec();
  TIniMap ini = ReadIni(Path("datalink.ini"));
  EXPECT_EQ(ini["ConnectionString"], (TKeys{{"UserId", "sa"},
                                            {"port", "1433"},
                                            {"Server", "db1 "},
                                            {"DBServerType", "0"},
                                            {"NTAuth", "0"},
                                            {"PassWord", ""},
                                            {"DBName", "vqcydata"},
                                            {"svrInstance", "SQLEXPRESS"},
                                            {"uport", "0"}}));
  EXPECT_EQ(ini["SysSet"], (TKeys{{"AppTitle", "标题"},
                                  {"ShopNO", "S02"},
                                  {"maxsizeResult", "5120"},
                                  {"startwithsys", "0"},
                                  {"writeResult", "0"},
                                  {"WriteCommLog", "0"},
                                  {"DelayCount", "200"},
                                  {"BaseCommPsw", "0"},
                                  {"iMaxLogCount", "50"},
                                  {"iBaseStationID", "0"}}));
  EXPECT_EQ(ini.size(), 2u);
  EXPECT_EQ(SysSet().ShopNO, "S02");
  EXPECT_EQ(SysSet().maxsizeResult, 5120);
}

TEST_F(OtherSetDialog, OptionsTakeEffectInMemoryAndAutostartFollowsTheBox) {
  PutIni("[SysSet]\nSYS_SERVER_TYPE=0\nBaseCommPsw=12\n[ConnectionString]\nDBServerType=1\n");
  TFakeDb db;
  for (bool on : {true, false}) {
    TfrmOtherSet dlg(db);
    OnModal<TfrmOtherSet>([on](TfrmOtherSet* d) {
      EXPECT_TRUE(d->edtShopNo->isHidden());
      EXPECT_FALSE(d->edtCommPsw->isHidden()) << "ordering mode shows the password";
      EXPECT_EQ(d->edtCommPsw->text(), on ? QStringLiteral("12") : QStringLiteral("34"));
      EXPECT_EQ(d->chk5->isChecked(), !on) << "shows whether the entry exists";
      d->chk5->setChecked(on);
      d->chk6->setChecked(on);
      EXPECT_EQ(d->edt5->isEnabled(), on);
      d->chk1->setChecked(on);
      d->chkSafe->setChecked(on);
      EXPECT_EQ(d->edt_ConnUser->isEnabled(), !on);
      d->edtLogCount->setText(on ? "7" : "");
      d->edtCommPsw->setText("0034");
      d->BitBtn1->click();
    });
    dlg.exec();
    EXPECT_EQ(std::filesystem::exists(Path("autostart/Quorvex_SQLPROC.desktop")), on);
    TIniMap ini = ReadIni(Path("datalink.ini"));
    EXPECT_EQ(ini["SysSet"]["startwithsys"], on ? "1" : "0");
    EXPECT_EQ(ini["SysSet"]["iMaxLogCount"], on ? "7" : "50");
    EXPECT_EQ(ini["ConnectionString"]["NTAuth"], on ? "1" : "0");
    EXPECT_EQ(ini["ConnectionString"]["DBServerType"], "-1") << "a stored 1 has no entry";
    EXPECT_EQ(SysSet().writeResult, on);
    EXPECT_EQ(SysSet().WriteCommLog, on);
    EXPECT_EQ(SysSet().iMaxLogCount, on ? 7 : 50);
    EXPECT_EQ(SysSet().BaseCommPsw, 34);
  }
}

TEST_F(OtherSetDialog, AutostartFailureKeepsTheStoredChoice) {
  PutIni("[SysSet]\nstartwithsys=0\n");
  Put("plainfile", "x");
  setenv("QUORVEX_AUTOSTART_DIR", Path("plainfile/autostart").c_str(), 1);
  TFakeDb db;
  TfrmOtherSet dlg(db);
  OnModal<TfrmOtherSet>([](TfrmOtherSet* d) {
    d->chk5->setChecked(true);
    d->chk1->setChecked(true);
    d->BitBtn1->click();
  });
  dlg.exec();
  TIniMap ini = ReadIni(Path("datalink.ini"));
  EXPECT_EQ(ini["SysSet"]["startwithsys"], "0");
  EXPECT_EQ(ini["SysSet"]["WriteCommLog"], "1") << "the rest is saved";
}

TEST_F(OtherSetDialog, ConnectionTestUsesTheTrimmedFields) {
  TFakeDb db;
  for (bool ok : {false, true}) {
    db.testOk = ok;
    TfrmOtherSet dlg(db);
    TBoxSeen box;
    OnModal<TfrmOtherSet>([&](TfrmOtherSet* d) {
      d->edt_ServerName->setText("srv ");
      d->chk2->setChecked(true);
      d->edtPort->setText(" 1500");
      d->edt_DBName->setText("db");
      d->edt_Pwd->setText("pw");
      EXPECT_EQ(d->edt_Pwd->displayText(), QStringLiteral("**")) << "masked with *, whatever the style";
      AnswerBox(box, QMessageBox::Ok);
      d->btn1->click();
      EXPECT_EQ(d->edt_ServerName->text(), QStringLiteral("srv ")) << "the box keeps the space";
      d->BitBtn2->click();
    });
    dlg.exec();
    EXPECT_EQ(box.title, QStringLiteral("信息提示"));
    EXPECT_EQ(box.icon, QMessageBox::Information);
    EXPECT_EQ(box.text,
              ok ? QStringLiteral("测试连接成功") : QStringLiteral("测试连接失败!请核对配置信息是否正确!"));
  }
  ASSERT_EQ(db.tested.size(), 2u);
  EXPECT_EQ(db.tested[0],
            "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=db;User ID=sa;"
            "Password=pw;Data Source=srv,1500");
  EXPECT_FALSE(Exists("datalink.ini")) << "cancel and the test save nothing";
}

// --- download selection ---

class DownSetDialog : public GuiHome {};

TEST_F(DownSetDialog, ShowsSelectionAndSavesBothKeys) {
  PutIni("[SysSet]\nTransData=101\n");
  TfrmDownSet dlg;
  OnModal<TfrmDownSet>([](TfrmDownSet* d) {
    EXPECT_EQ(d->GetTransData(), "101000000");
    EXPECT_TRUE(d->chkDownAll->isChecked()) << "Broadcast missing means true";
    d->btnNoAll->click();
    EXPECT_EQ(d->GetTransData(), "010111111");
    d->chkDownAll->setChecked(false);
    d->btnSave->click();
  });
  dlg.exec();
  EXPECT_EQ(SysSet().TransData, "010111111");
  EXPECT_FALSE(SysSet().Broadcast);
  EXPECT_EQ(ReadIni(Path("datalink.ini"))["SysSet"], (TKeys{{"TransData", "010111111"}, {"Broadcast", "0"}}));

  TfrmDownSet again;
  OnModal<TfrmDownSet>([](TfrmDownSet* d) {
    EXPECT_EQ(d->GetTransData(), "010111111");
    d->btnAll->click();
    EXPECT_EQ(d->GetTransData(), "111111111");
    d->btnClose->click();
  });
  again.exec();
  EXPECT_EQ(SysSet().TransData, "010111111") << "退出 saves nothing";
  for (int p = 1; p <= 9; ++p)
    EXPECT_NE(again.findChild<QCheckBox*>(QStringLiteral("chk%1").arg(p)), nullptr);
}

}  // namespace
}  // namespace qv::test

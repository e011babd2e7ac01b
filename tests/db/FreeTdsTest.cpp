// The ODBC backend through the real FreeTDS driver and unixODBC, against the scripted TDS
// responder on loopback: what reaches the wire (RPC parameter types and values, the login's
// fields, language and encryption bytes), lost links, an unanswered cancel, the instance
// lookup, Chinese text both ways, and what comes back.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "TdsResponder.h"
#include "db/Db.h"

using namespace qv::db;
using namespace qv::test;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// SQL types as sp_sproc_columns reports them (ODBC 3).
constexpr int kInt = 4, kVarChar = 12, kWVarChar = -9, kDecimal = 3, kReal = 7, kDateTime = 93;

std::vector<TdsProcParam> OrderDish() {
  return {
      {"@RETURN_VALUE", 5, kInt, "int", 10, 4, 0},        {"@iMTNo", 1, kInt, "int", 10, 4, 0},
      {"@cTableNo", 1, kVarChar, "varchar", 10, 10, 0},   {"@dtOpTime", 1, kDateTime, "datetime", 23, 16, 3},
      {"@fPrice", 1, kDecimal, "money", 19, 21, 4},       {"@fQty", 1, kReal, "real", 24, 4, 0},
      {"@nRate", 1, kDecimal, "decimal", 18, 20, 2},      {"@iResult", 2, kInt, "int", 10, 4, 0},
      {"@strResult", 2, kVarChar, "varchar", 100, 100, 0}};
}

std::vector<TdsProcParam> BillQuery() {
  return {{"@RETURN_VALUE", 5, kInt, "int", 10, 4, 0},      {"@iMTNo", 1, kInt, "int", 10, 4, 0},
          {"@cTableNo", 1, kVarChar, "varchar", 10, 10, 0}, {"@cOpCode", 1, kWVarChar, "nvarchar", 10, 20, 0},
          {"@iResult", 2, kInt, "int", 10, 4, 0},           {"@strResult", 2, kVarChar, "varchar", 0, 0, 0}};
}

// A procedure's answer: its rows (when given), then the status and the two outputs.
TdsReply ProcReply(const std::vector<TdsReply::Column>& cols,
                   const std::vector<std::vector<std::optional<std::string>>>& rows,
                   const std::string& iResult, const std::optional<std::string>& strResult,
                   TdsType strType = TdsType::VarChar(100)) {
  TdsReply r;
  if (!cols.empty()) {
    r.Columns(cols);
    for (const auto& row : rows) r.Row(row);
    r.Done(0xFF, 0x11, rows.size());
  }
  r.ReturnStatus(0)
      .ReturnValue(1, "@iResult", TdsType::Int(), iResult)
      .ReturnValue(2, "@strResult", strType, strResult);
  r.Done(0xFE, 0, 0);
  return r;
}

class FreeTds : public ::testing::Test {
 protected:
  void SetUp() override {
    srv.DeclareProc("MT_Ins_Order_Dish", OrderDish());
    srv.DeclareProc("MT_Get_Bill_Query", BillQuery());
    srv.SetHandler([](const TdsRequest& r) {
      TdsReply rep;
      if (r.What == TdsRequest::Rpc) return TdsAction::Answer(ProcReply({}, {}, "0", ""));
      if (r.What == TdsRequest::Batch) {
        rep.Columns({{"", TdsType::Int()}}).Row({"7"}).Done(0xFD, 0x10, 1);
        return TdsAction::Answer(rep);
      }
      return TdsAction::Answer(rep.Done(0xFD, 0x20));  // the answer to a cancel
    });
  }

  std::optional<TdsRequest> LastRpc(const std::string& proc) const {
    std::optional<TdsRequest> last;
    for (const auto& r : srv.Requests())
      if (r.What == TdsRequest::Rpc && r.Proc == proc) last = r;
    return last;
  }

  // The procedure call as the bridge makes it: refresh, assign texts, run.
  void CallOrderDish(TADOConnection& c, const std::string& dtOpTime, const std::string& price = "12.5") {
    TADOStoredProc sp(&c);
    sp.SetProcedureName("MT_Ins_Order_Dish");
    ASSERT_TRUE(sp.Parameters().Refresh());
    sp.ParamByName("@iMTNo").SetString("12");
    sp.ParamByName("@cTableNo").SetString("A01");
    sp.ParamByName("@dtOpTime").SetString(dtOpTime);
    sp.ParamByName("@fPrice").SetString(price);
    sp.ParamByName("@fQty").SetString("1.5");
    sp.ParamByName("@nRate").SetString("0.25");
    sp.ParamByName("@iResult").SetInteger(0);
    sp.ParamByName("@strResult").SetString("");
    sp.ExecProc();
  }

  TdsResponder srv;
};

// RPC parameters are positional: index 0 is @iMTNo (the return value is not sent).
enum { kMTNo, kTableNo, kOpTime, kPrice, kQty, kRate, kIResult, kStrResult };

TEST_F(FreeTds, DateParametersArriveAsTheSameInstant) {
  TADOConnection c(srv.OdbcString());
  c.Open();
  const struct {
    const char* text;
    const char* wire;
  } cases[] = {
      {"20240102123456", "2024-01-02 12:34:56.000"},  // the order time as the terminals' records give it
      {"2024/01/02 12:34:56", "2024-01-02 12:34:56.000"},
      {"2024-1-2 3:04:05", "2024-01-02 03:04:05.000"},
      {"2024.01.02", "2024-01-02 00:00:00.000"},
      {"2024-01-02T03:04:05", "2024-01-02 03:04:05.000"},
      {"2024-02-29 23:59:59.250", "2024-02-29 23:59:59.250"},
      {"20240102", "2024-01-02 00:00:00.000"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    try {
      CallOrderDish(c, k.text);
    } catch (const EDatabaseError& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    auto rpc = LastRpc("MT_Ins_Order_Dish");
    ASSERT_TRUE(rpc);
    ASSERT_EQ(rpc->Params.size(), 8u);
    const TdsParam& p = rpc->Params[kOpTime];
    EXPECT_TRUE(p.Type.Code == kTdsDateTime2N || p.Type.Code == kTdsDateTimeN) << p.Type.Name();
    EXPECT_EQ(p.Text(), k.wire);
  }
}

TEST_F(FreeTds, ImpossibleDateFailsTheRequestClearlyAndSendsNothing) {
  TADOConnection c(srv.OdbcString());
  c.Open();
  for (const char* text :
       {"2024-13-01", "2023-02-29", "20241301000000", "2024010212", "2024-01-02 24:00", "12.5"}) {
    SCOPED_TRACE(text);
    const size_t before = srv.Requests().size();
    try {
      CallOrderDish(c, text);
      ADD_FAILURE() << "sent: " << LastRpc("MT_Ins_Order_Dish")->Params[kOpTime].Text();
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Kind(), TErrorKind::Conversion) << e.what();
      EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("@dtOpTime"), std::string::npos) << e.what();
    }
    // the refresh went out, the call did not
    EXPECT_EQ(srv.Requests().size(), before + 1);
    EXPECT_TRUE(c.Connected());
  }
}

TEST_F(FreeTds, DateTextInWordsIsLeftToTheServer) {
  TADOConnection c(srv.OdbcString());
  c.Open();
  CallOrderDish(c, "Jan 2 2024 3:04PM");
  auto rpc = LastRpc("MT_Ins_Order_Dish");
  ASSERT_TRUE(rpc);
  EXPECT_EQ(rpc->Params[kOpTime].Type.Code, kTdsBigVarChar) << rpc->Params[kOpTime].Type.Name();
  EXPECT_EQ(rpc->Params[kOpTime].Text(), "Jan 2 2024 3:04PM");
}

TEST_F(FreeTds, NumbersInExponentFormArriveAsPlainDecimals) {
  TADOConnection c(srv.OdbcString());
  c.Open();
  const struct {
    const char* text;
    const char* price;  // money: 4 decimals on the wire
  } cases[] = {{"1e3", "1000.0000"}, {"1.5E-2", "0.0150"}, {"-2.5e1", "-25.0000"}, {"12.5", "12.5000"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    try {
      CallOrderDish(c, "20240102123456", k.text);
    } catch (const EDatabaseError& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    auto rpc = LastRpc("MT_Ins_Order_Dish");
    ASSERT_TRUE(rpc);
    EXPECT_EQ(rpc->Params[kPrice].Type.Name(), "decimaln(19,4)");
    EXPECT_EQ(rpc->Params[kPrice].Text(), k.price);
  }
  // the other parameters as the declaration says
  auto rpc = LastRpc("MT_Ins_Order_Dish");
  ASSERT_TRUE(rpc);
  EXPECT_EQ(rpc->Params[kMTNo].Type.Name(), "intn(4)");
  EXPECT_EQ(rpc->Params[kMTNo].Text(), "12");
  EXPECT_EQ(rpc->Params[kQty].Text(), "1.5");
  EXPECT_EQ(rpc->Params[kRate].Text(), "0.25");
  EXPECT_TRUE(rpc->Params[kIResult].Output);
  EXPECT_TRUE(rpc->Params[kStrResult].Output);
  EXPECT_EQ(rpc->Params[kStrResult].Type.Name(), "bigvarchar(100)");
}

TEST_F(FreeTds, ChineseTextBothWays) {
  srv.SetHandler([](const TdsRequest& r) {
    if (r.What != TdsRequest::Rpc) {
      TdsReply rep;
      rep.Columns({{"cDishName", TdsType::VarChar(20)}}).Row({"辣椒炒肉"}).Done(0xFD, 0x10, 1);
      return TdsAction::Answer(rep);
    }
    return TdsAction::Answer(ProcReply({{"cDishName", TdsType::VarChar(20)}, {"cUnit", TdsType::NVarChar(4)}},
                                       {{"凉菜", "份"}, {"辣椒炒肉  ", std::nullopt}}, "0", "已下单"));
  });
  TADOConnection c(srv.OleDbString());
  c.Open();
  TADOStoredProc sp(&c);
  sp.SetProcedureName("MT_Get_Bill_Query");
  ASSERT_TRUE(sp.Parameters().Refresh());
  sp.ParamByName("@iMTNo").SetInteger(5);
  sp.ParamByName("@cTableNo").SetString("大厅01");
  sp.ParamByName("@cOpCode").SetString("张三");
  sp.ParamByName("@iResult").SetInteger(0);
  sp.ParamByName("@strResult").SetString("");
  sp.Open();
  auto rpc = LastRpc("MT_Get_Bill_Query");
  ASSERT_TRUE(rpc);
  ASSERT_EQ(rpc->Params.size(), 5u);
  // varchar goes in the server's code page (GB18030 for Chinese_PRC), nvarchar in UTF-16
  EXPECT_EQ(rpc->Params[1].Type.Code, kTdsBigVarChar);
  const std::string gbk = Utf8ToGb("大厅01");
  EXPECT_EQ(rpc->Params[1].Raw,
            std::optional<std::vector<uint8_t>>(std::vector<uint8_t>(gbk.begin(), gbk.end())));
  EXPECT_EQ(rpc->Params[2].Type.Code, kTdsNVarChar);
  EXPECT_EQ(rpc->Params[2].Text(), "张三");
  ASSERT_TRUE(sp.Active());
  ASSERT_EQ(sp.RecordCount(), 2);
  EXPECT_EQ(sp.FieldByName("cDishName").AsString(), "凉菜");
  EXPECT_EQ(sp.FieldByName("cUnit").AsString(), "份");
  sp.Next();
  EXPECT_EQ(sp.FieldByName("cDishName").AsString(), "辣椒炒肉  ");
  EXPECT_TRUE(sp.FieldByName("cUnit").IsNull());
  EXPECT_EQ(sp.ParamByName("@strResult").AsString(), "已下单");

  // a statement's text, both ways
  TADOQuery q(&c);
  q.SetSQL("select cDishName from dish where cDishName = '辣椒炒肉'");
  q.Open();
  EXPECT_EQ(srv.Requests().back().Sql, "select cDishName from dish where cDishName = '辣椒炒肉'");
  EXPECT_EQ(q.FieldByName("cDishName").AsString(), "辣椒炒肉");
}

TEST_F(FreeTds, OutputTextOfUnknownLengthIsDeclared8000) {
  const std::string longText(3000, 'x');
  srv.SetHandler([&](const TdsRequest&) {
    return TdsAction::Answer(ProcReply({}, {}, "0", longText, TdsType::VarChar(0xFFFF)));
  });
  TADOConnection c(srv.OdbcString());
  c.Open();
  TADOStoredProc sp(&c);
  sp.SetProcedureName("MT_Get_Bill_Query");
  ASSERT_TRUE(sp.Parameters().Refresh());
  EXPECT_EQ(sp.ParamByName("@strResult").Size(), 0);  // varchar(max)
  sp.ParamByName("@iMTNo").SetInteger(5);
  sp.ParamByName("@strResult").SetString("");
  sp.ExecProc();
  auto rpc = LastRpc("MT_Get_Bill_Query");
  ASSERT_TRUE(rpc);
  // the server cuts an output to its declared length
  EXPECT_EQ(rpc->Params[4].Type.Name(), "bigvarchar(8000)");
  EXPECT_EQ(sp.ParamByName("@strResult").AsString(), longText);
}

TEST_F(FreeTds, ErrorAfterTheRowsKeepsTheRowsAndIsLogged) {
  srv.SetHandler([](const TdsRequest& q) {
    TdsReply r;
    if (q.What == TdsRequest::Attention) return TdsAction::Answer(r.Done(0xFD, 0x20));
    r.Columns({{"iRecNo", TdsType::Int()}, {"fQty", TdsType::Float(4)}})
        .Row({"1", "0.1"})
        .Row({"2", "1234567.9"});
    r.Done(0xFF, 0x11, 2).Error(50000, 16, "库存不足").Done(0xFF, 0x03, 0);
    r.ReturnStatus(0)
        .ReturnValue(1, "@iResult", TdsType::Int(), "3")
        .ReturnValue(2, "@strResult", TdsType::VarChar(20), "库存不足");
    r.Done(0xFE, 0, 0);
    return TdsAction::Answer(r);
  });
  std::mutex mu;
  std::vector<std::string> logged;
  SetServerMessageLog([&](const std::string& m) {
    std::lock_guard<std::mutex> l(mu);
    logged.push_back(m);
  });
  TADOConnection c(srv.OdbcString());
  c.Open();
  TADOStoredProc sp(&c);
  sp.SetProcedureName("MT_Get_Bill_Query");
  ASSERT_TRUE(sp.Parameters().Refresh());
  sp.ParamByName("@iMTNo").SetInteger(5);
  try {
    sp.Open();
  } catch (const EDatabaseError& e) {
    SetServerMessageLog({});
    FAIL() << e.what();
  }
  SetServerMessageLog({});
  ASSERT_TRUE(sp.Active());
  EXPECT_EQ(sp.RecordCount(), 2);
  EXPECT_EQ(sp.ParamByName("@iResult").AsInteger(), 3);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("MT_Get_Bill_Query"), std::string::npos) << logged[0];
  EXPECT_NE(logged[0].find("库存不足"), std::string::npos) << logged[0];
  // real: the shortest digits that are the same single, not 7 digits (1234568) nor 15
  EXPECT_EQ(sp.FieldByName("fQty").AsString(), "0.1");
  sp.Next();
  EXPECT_EQ(sp.FieldByName("fQty").AsString(), "1234567.9");
  EXPECT_TRUE(c.Connected());

  // a save (no rows wanted) that fails still fails
  EXPECT_THROW(sp.ExecProc(), EDatabaseError);
}

TEST_F(FreeTds, LoginCarriesNamesAndPasswordsAsTyped) {
  const struct {
    std::string conn;
    const char* user;
    const char* password;
    const char* database;
  } cases[] = {
      // the data module's OLE DB string, values unquoted
      {srv.OleDbString("User ID=收银员;Password=密码}}1"), "收银员", "密码}}1", "vqerp"},
      {"Provider=SQLOLEDB.1;Initial Catalog=餐饮;User ID=sa;Password=a}b;Data Source=127.0.0.1," +
           std::to_string(srv.Port()),
       "sa", "a}b", "餐饮"},
      // a quoted OLE DB value and an ODBC string in standard syntax ("}}" is one '}')
      {"Provider=SQLOLEDB.1;Initial Catalog=vqerp;User ID=sa;Password=\"a;b}c\";Data Source=127.0.0.1," +
           std::to_string(srv.Port()),
       "sa", "a;b}c", "vqerp"},
      {"Driver=FreeTDS;Server=127.0.0.1;Port=" + std::to_string(srv.Port()) +
           ";UID=sa;PWD={x}}y;z};Database=vqerp;TDS_Version=7.4;ClientCharset=UTF-8",
       "sa", "x}y;z", "vqerp"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.conn);
    TADOConnection c(k.conn);
    try {
      c.Open();
    } catch (const EDatabaseError& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    ASSERT_FALSE(srv.Logins().empty());
    const TdsLogin l = srv.Logins().back();
    EXPECT_EQ(l.User, k.user);
    EXPECT_EQ(l.Password, k.password);
    EXPECT_EQ(l.Database, k.database);
  }
  // what FreeTDS cannot read is refused before anything is sent
  const size_t logins = srv.Logins().size();
  TADOConnection bad(srv.OdbcString() + ";PWD={a}};b}");  // the value a};b
  try {
    bad.Open();
    ADD_FAILURE() << "connected";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::Unsupported) << e.what();
    EXPECT_NE(std::string(e.what()).find("};"), std::string::npos) << e.what();
  }
  EXPECT_EQ(srv.Logins().size(), logins);
}

TEST_F(FreeTds, SessionLanguageIsTheLoginsUnlessNamed) {
  const struct {
    std::string conn;
    const char* language;
  } cases[] = {
      {srv.OleDbString(), ""},  // empty: the server uses the login's default language
      {srv.OdbcString(), ""},
      {srv.OleDbString("Current Language=us_english"), "us_english"},
      {srv.OdbcString("Language=简体中文"), "简体中文"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.conn);
    TADOConnection c(k.conn);
    c.Open();
    EXPECT_EQ(srv.Logins().back().Language, k.language);
  }
}

TEST_F(FreeTds, EncryptionIsRequestedUnlessMoreIsAsked) {
  // the prelogin's encryption byte: 0 = on if the server wants it (FreeTDS "request"),
  // 1 = required, 2 = not supported ("off")
  const struct {
    std::string conn;
    uint8_t byte;
  } cases[] = {
      {srv.OleDbString(), 0},
      {srv.OleDbString("Encrypt=False"), 0},
      {srv.OleDbString("Use Encryption for Data=False"), 0},
      {srv.OleDbString("Encrypt=True"), 1},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.conn);
    const size_t n = srv.PreloginEncryption().size();
    TADOConnection c(k.conn);
    try {
      c.Open();  // "require" fails here: the responder does not do TLS
    } catch (const EDatabaseError&) {
    }
    ASSERT_EQ(srv.PreloginEncryption().size(), n + 1);
    EXPECT_EQ(srv.PreloginEncryption().back(), k.byte);
  }
  // A server that forces encryption: the client goes on to TLS instead of giving up.
  srv.SetServerEncryption(3);
  TADOConnection c(srv.OleDbString("Encrypt=False"));
  c.SetConnectionTimeout(2);
  EXPECT_THROW(c.Open(), EDatabaseError);  // no TLS in the responder
  EXPECT_EQ(srv.TlsHandshakes(), 1);
}

TEST_F(FreeTds, ServerRestartIsALostLinkOnTheFirstRequest) {
  TADOConnection c(srv.OleDbString());
  c.Open();
  TADOQuery q(&c);
  q.SetSQL("Select @@CONNECTIONS");
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "7");
  srv.DropConnections();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  try {
    q.Open();
    FAIL() << "the query ran on a dropped connection";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::LinkLost) << e.what();
    EXPECT_NE(std::string(e.what()).find(kNetworkErrorText), std::string::npos) << e.what();
    EXPECT_EQ(e.SqlState().substr(0, 2), "08") << e.what();
  }
  EXPECT_FALSE(c.Connected());
  // the next connect makes a new session
  c.Open();
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "7");
  EXPECT_EQ(srv.Accepted(), 2);
}

TEST_F(FreeTds, AnsweredCancelEndsTheRequestAndKeepsTheLink) {
  std::atomic<bool> hang{true};
  srv.SetHandler([&](const TdsRequest& r) {
    TdsReply rep;
    if (r.What == TdsRequest::Attention) return TdsAction::Answer(rep.Done(0xFD, 0x20));
    if (hang) return TdsAction::NoAnswer();
    rep.Columns({{"", TdsType::Int()}}).Row({"7"}).Done(0xFD, 0x10, 1);
    return TdsAction::Answer(rep);
  });
  TADOConnection c(srv.OdbcString());
  c.Open();
  c.SetCommandTimeout(1);
  TADOQuery q(&c);
  q.SetSQL("Select @@CONNECTIONS");
  const auto start = Clock::now();
  try {
    q.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::General) << e.what();
  }
  EXPECT_LT(Seconds(start), 2.5);
  EXPECT_EQ(srv.Requests().back().What, TdsRequest::Attention);
  EXPECT_TRUE(c.Connected());
  hang = false;
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "7");
}

// The service's wait on the real driver: the request runs on its worker while the hook has the
// thread; giving it up sends the driver's cancel from this thread, and the session survives.
TEST_F(FreeTds, GivingUpThroughTheWaitHookCancelsAndKeepsTheLink) {
  std::atomic<bool> hang{true};
  srv.SetHandler([&](const TdsRequest& r) {
    TdsReply rep;
    if (r.What == TdsRequest::Attention) return TdsAction::Answer(rep.Done(0xFD, 0x20));
    if (hang) return TdsAction::NoAnswer();
    rep.Columns({{"", TdsType::Int()}}).Row({"7"}).Done(0xFD, 0x10, 1);
    return TdsAction::Answer(rep);
  });
  struct TGiveUp : IDbWait {
    Clock::time_point start = Clock::now();
    int calls = 0;
    TResult WaitReadable(int Fd, int) override {
      ++calls;
      if (Clock::now() - start > std::chrono::milliseconds(300)) return TResult::Cancelled;
      pollfd p{Fd, POLLIN, 0};
      return poll(&p, 1, 50) > 0 ? TResult::Ready : TResult::TimedOut;
    }
  } hook;
  TADOConnection c(srv.OdbcString());
  c.Open();
  c.SetCommandTimeout(30);
  c.SetWaitHook(&hook);
  TADOQuery q(&c);
  q.SetSQL("Select @@CONNECTIONS");
  try {
    q.Open();
    FAIL() << "the hung request answered";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::Cancelled) << e.what();
  }
  EXPECT_GE(hook.calls, 5);
  EXPECT_EQ(srv.Requests().back().What, TdsRequest::Attention);
  EXPECT_TRUE(c.Connected());
  hang = false;
  c.SetWaitHook(nullptr);
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "7");
}

TEST_F(FreeTds, UnansweredCancelIsALostLinkFiveSecondsAfterIt) {
  // A dead server: neither the request nor the cancel is answered. The driver sends the
  // cancel after the command time-out and would wait as long again; the layer ends it 5 s
  // after the cancel. A command time-out above 5 s shows the difference.
  srv.SetHandler([](const TdsRequest&) { return TdsAction::NoAnswer(); });
  const int timeout = 7;
  TADOConnection c(srv.OdbcString());
  c.Open();
  c.SetCommandTimeout(timeout);
  TADOQuery q(&c);
  q.SetSQL("Select @@CONNECTIONS");
  const auto start = Clock::now();
  try {
    q.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::LinkLost) << e.what();
    EXPECT_NE(std::string(e.what()).find(kNetworkErrorText), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("nor its cancel within 5 s"), std::string::npos) << e.what();
  }
  const double took = Seconds(start);
  bool cancelled = false;
  for (const auto& r : srv.Requests()) cancelled = cancelled || r.What == TdsRequest::Attention;
  EXPECT_TRUE(cancelled) << "the driver sent no cancel";
  std::printf("unanswered cancel: request failed after %.2f s (command time-out %d s, driver alone: %d s)\n",
              took, timeout, 2 * timeout);
  EXPECT_GE(took, timeout + 4.5);
  EXPECT_LE(took, timeout + 5.9);
  EXPECT_FALSE(c.Connected());
}

TEST_F(FreeTds, RefusedLoginSaysWhatToCheck) {
  srv.FailLogins(18456, "Login failed for user 'sa'.");
  TADOConnection c(srv.OleDbString());
  try {
    c.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::Connect);
    const std::string m = e.what();
    EXPECT_NE(m.find("Login failed for user 'sa'"), std::string::npos) << m;
    EXPECT_NE(m.find("user name and password"), std::string::npos) << m;
    EXPECT_NE(m.find("SQL Server authentication"), std::string::npos) << m;
  }
}

// A SQL Server Browser on UDP 1434 of a loopback address of its own; an empty answer never
// answers. It lives at most 30 s.
class BrowserStub {
 public:
  BrowserStub(const char* address, std::string answer) : answer_(std::move(answer)) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(1434);
    inet_pton(AF_INET, address, &a.sin_addr);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (bound_) thread_ = std::thread([this] { Run(); });
  }
  ~BrowserStub() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  bool Bound() const { return bound_; }
  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> l(mu_);
    return requests_;
  }

 private:
  void Run() {
    const auto end = Clock::now() + std::chrono::seconds(30);
    while (!stop_ && Clock::now() < end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[512];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n <= 0) continue;
      {
        std::lock_guard<std::mutex> l(mu_);
        requests_.emplace_back(buf, static_cast<size_t>(n));
      }
      if (answer_.empty()) continue;
      std::string out = "\x05";
      out += static_cast<char>(answer_.size() & 0xFF);
      out += static_cast<char>(answer_.size() >> 8);
      out += answer_;
      sendto(fd_, out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
  }
  std::string answer_;
  int fd_ = -1;
  bool bound_ = false;
  std::atomic<bool> stop_{false};
  mutable std::mutex mu_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

std::string InstanceString(const std::string& host, const char* instance) {
  return "Provider=SQLOLEDB.1;Persist Security Info=False;Initial Catalog=vqerp;User ID=sa;Password=secret;"
         "Data Source=" +
         host + "\\" + instance;
}

TEST(FreeTdsInstance, PortIsLookedUpOnceAndKept) {
  TdsResponder srv("127.0.0.2");
  BrowserStub browser("127.0.0.2",
                      "ServerName;SHOP;InstanceName;SQLEXPRESS;IsClustered;No;Version;15.0.2000.5;tcp;" +
                          std::to_string(srv.Port()) + ";;");
  ASSERT_TRUE(browser.Bound()) << "UDP 127.0.0.2:1434 is taken";
  TADOConnection c(InstanceString("127.0.0.2", "SQLEXPRESS"));
  c.Open();
  EXPECT_TRUE(c.Connected());
  ASSERT_EQ(browser.Requests().size(), 1u);
  EXPECT_EQ(browser.Requests()[0], std::string("\x04SQLEXPRESS", 11) + '\0');
  // a reconnect (every 30 s while the link is down) asks the Browser no more
  c.Close();
  c.Open();
  EXPECT_EQ(srv.Accepted(), 2);
  EXPECT_EQ(browser.Requests().size(), 1u);
}

TEST(FreeTdsInstance, FailuresAreQuickAndSayWhatToDo) {
  BrowserStub silent("127.0.0.4", "");
  BrowserStub noTcp("127.0.0.5",
                    "ServerName;SHOP;InstanceName;SQLEXPRESS;IsClustered;No;Version;15.0.2000.5;np;"
                    "\\\\SHOP\\pipe\\MSSQL$SQLEXPRESS\\sql\\query;;");
  ASSERT_TRUE(silent.Bound() && noTcp.Bound()) << "UDP port 1434 on 127.0.0.4/5 is taken";
  const struct {
    const char* host;
    int timeout;  // the connection's time-out
    double within;
    std::vector<const char*> words;
  } cases[] = {
      // nothing on UDP 1434: the Browser is off (as SQL Server Express ships)
      {"127.0.0.3", 5, 1.0, {"SQL Server Browser", "not running", "fixed TCP port"}},
      {"127.0.0.4", 1, 1.6, {"SQL Server Browser", "did not answer", "fixed TCP port"}},
      {"127.0.0.5", 5, 1.0, {"TCP/IP", "SQL Server Configuration Manager"}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.host);
    TADOConnection c(InstanceString(k.host, "SQLEXPRESS"));
    c.SetConnectionTimeout(k.timeout);
    const auto start = Clock::now();
    try {
      c.Open();
      ADD_FAILURE() << "connected";
    } catch (const EDatabaseError& e) {
      EXPECT_EQ(e.Kind(), TErrorKind::Connect);
      for (const char* w : k.words) EXPECT_NE(std::string(e.what()).find(w), std::string::npos) << e.what();
    }
    EXPECT_LT(Seconds(start), k.within);
  }
}

TEST(FreeTdsConnect, LocalServerNamesSayTheyMeanThisMachine) {
  // "(local)" as the installer wrote it for a server on the Windows machine itself
  TADOConnection c("Provider=SQLOLEDB.1;Initial Catalog=vqerp;User ID=sa;Password=x;Data Source=(local),1");
  c.SetConnectionTimeout(2);
  try {
    c.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    const std::string m = e.what();
    EXPECT_NE(m.find("this Linux machine"), std::string::npos) << m;
    EXPECT_NE(m.find("TCP/IP"), std::string::npos) << m;
  }
}

}  // namespace

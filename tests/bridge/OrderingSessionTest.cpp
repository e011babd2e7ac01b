// Ordering sessions end to end: the polling cycle, the exchanges, the bridge and the demo
// database's procedures, with a scripted terminal on the virtual clock.
#include <gtest/gtest.h>

#include <cstring>

#include "DemoDb.h"
#include "DemoCodes.h"
#include "TermScript.h"
#include "base/Logging.h"
#include "base/Text.h"
#include "base/ResultCodes.h"
#include "bridge/DbLink.h"

namespace qv::test {
namespace {

constexpr uint16_t kLogin = 0x0204, kOpenTable = 0x0304, kOrder = 0x0104, kBill = 0x1304;
constexpr uint32_t kPsw = 4321;

// 2026-12-10 12:34:56 as seconds after 1980-01-01.
constexpr int32_t kOpTime = ((46 * 365 + 12 + 343) * 86400) + 12 * 3600 + 34 * 60 + 56;

// A table, an operator and three dishes of this test's own.
struct TOrderingFixture : ::testing::Test {
  std::unique_ptr<TDemoDb> db;
  std::string table, op, dish[3];
  uint32_t terminal = 0;

  void SetUp() override {
    QV_NEED_DEMO_DB();
    db = std::make_unique<TDemoDb>();
    db->Exec("INSERT INTO table_area (area_code, area_name) VALUES ('QX', '测试区') ON CONFLICT DO NOTHING");
    db->Exec("INSERT INTO dish_sort (sort_code, sort_name) VALUES ('QXS', '测试') ON CONFLICT DO NOTHING");
    op = db->FreshKey("operator", "op_code", "Q", 4);
    db->Exec("INSERT INTO operator (op_code, op_name, password) VALUES (" + Lit(op) + ", '张三丰', '1234')");
    table = db->FreshKey("dining_table", "table_no", "X", 4);
    db->Exec("INSERT INTO dining_table (table_no, table_name, area_code) VALUES (" + Lit(table) +
             ", '测试台', 'QX')");
    const char* names[] = {"宫保鸡丁", "麻婆豆腐", "酸辣汤"};
    for (int i = 0; i < 3; ++i) {
      dish[i] = db->FreshKey("dish", "dish_code", "Y", 5);
      db->Exec("INSERT INTO dish (dish_code, dish_name, sort_code, unit, price) VALUES (" + Lit(dish[i]) +
               ", " + Lit(names[i]) + ", 'QXS', '份', 38)");
    }
    terminal = TDemoDb::FreshTerminal();
  }

  std::string BillNo() {
    return db->Scalar("SELECT bill_no FROM dining_table WHERE table_no = " + Lit(table));
  }

  TBytes LoginPayload(const std::string& psw) const {
    return TPayload(22).Text(0, 4, "0001").Text(4, 8, "DEV00001").Text(12, 4, op).Text(16, 6, psw);
  }
  TBytes OpenTablePayload() const {
    return TPayload(26).Text(0, 4, table).Text(4, 2, "4").Text(10, 12, "生日宴").Text(22, 4, op);
  }
  TBytes HeaderPayload(int32_t opTime) const {
    return TPayload(40)
        .Text(0, 4, table)
        .Text(4, 4, op)
        .Money(22, 0)
        .U32(27, static_cast<uint32_t>(opTime))
        .Text(31, 4, "0012")
        .U8(35, 7)
        .Money(36, 7 * 2 * 3800);
  }
  // Dish records with record numbers first..first+n-1, two portions at 38.00 each.
  TBytes Dishes(int first, int n) const {
    TPayload p;
    for (int i = first; i < first + n; ++i) {
      p.Append(TPayload(57)
                   .U8(0, static_cast<uint8_t>(i))
                   .Text(1, 5, dish[i % 3])
                   .Text(26, 4, "份")
                   .Single(40, 2)
                   .Money(48, 3800));
    }
    return p;
  }
  int LineCount() {
    return std::stoi(db->Scalar("SELECT count(*) FROM bill_line WHERE bill_no = " + Lit(BillNo())));
  }
};

TEST_F(TOrderingFixture, LoginOpenOrderAndReadTheBillBack) {
  TTermSession s(0, terminal, kPsw);
  s.WrongPassword(kPsw + 1);                // the poll answer is refused with "ER" 1
  s.Request(kLogin, LoginPayload("9999"));  // wrong operator password
  s.Silent();                               // its "ER"
  s.Request(kLogin, LoginPayload("1234"));
  s.AckAll();
  s.Request(kOpenTable, OpenTablePayload());
  s.Reply(CMD_END);
  s.Request(kOrder, HeaderPayload(kOpTime), 1);  // the header frame
  s.Reply(kOrder, 2, Dishes(1, 4));
  s.Reply(kOrder, 0, Dishes(5, 3));
  s.Reply(CMD_END);
  // The bill of 7 lines, 3 per frame: a resend, then an acknowledgement of number 9.
  s.Request(kBill, TPayload(8).Text(0, 4, table).Text(4, 4, op));
  s.Reply(CMD_RESEND);
  s.Reply(CMD_OK, 9);
  s.Reply(CMD_OK, 9);
  s.AckAll();
  // Read again: the terminal fails the second frame.
  s.Request(kBill, TPayload(8).Text(0, 4, table).Text(4, 4, op));
  s.Reply(CMD_OK, 1);
  s.Reply(CMD_ER, 0, {RC_TERM_FRAMENO});
  s.Silent();
  // And once more, ended early after the first frame.
  s.Request(kBill, TPayload(8).Text(0, 4, table).Text(4, 4, op));
  s.Reply(CMD_END);
  s.Run();
  EXPECT_TRUE(s.failures.empty()) << s.failures.front();

  // The password answer and the failed login.
  const auto er = s.PcFrames(CMD_ER);
  ASSERT_EQ(er.size(), 3u);
  EXPECT_EQ(er[0].payload[0], RC_BADPSW);
  EXPECT_EQ(er[0].Text(), "通迅密码错误");
  EXPECT_EQ(er[1].payload[0], RC_DEMO_BADOPPSW);
  EXPECT_EQ(er[1].Text(), "操作员密码错误");
  EXPECT_EQ(er[1].fieldA, kPsw);

  const auto ok = s.PcFrames(CMD_OK);
  // login, open table, header, 2 dish frames, bill x (5 + 2 + 1)
  ASSERT_EQ(ok.size(), 1u + 1 + 3 + 5 + 2 + 1);
  // Login answer: user name, the clock, the procedure's text.
  const TPcFrame& login = ok[0];
  EXPECT_EQ(login.frNo, 0);
  EXPECT_EQ(GbkToUtf8(std::string(login.payload.begin(), login.payload.begin() + 6)), "张三丰");
  EXPECT_EQ(login.payload[6], 0);
  for (int i = 8; i < 20; ++i) EXPECT_TRUE(isdigit(login.payload[i])) << i;
  EXPECT_EQ(GbkToUtf8(std::string(login.payload.begin() + 20, login.payload.end())), "登录成功");
  // Table opened, header kept without a save, dishes saved.
  EXPECT_EQ(ok[1].Text().rfind("开台成功,单号" + BillNo(), 0), 0u) << ok[1].Text();
  EXPECT_EQ(ok[2].frNo, 1);
  EXPECT_TRUE(ok[2].payload.empty());
  EXPECT_EQ(ok[3].frNo, 2);
  EXPECT_EQ(ok[3].Text(), "点菜成功");
  EXPECT_EQ(ok[4].frNo, 0);
  EXPECT_EQ(LineCount(), 7);

  // The bill read back: 1 (sent), 1 (resent), 1 (acknowledged as 9), then 10 and 0.
  std::vector<int> numbers;
  for (size_t i = 5; i < 10; ++i) numbers.push_back(ok[i].frNo);
  EXPECT_EQ(numbers, (std::vector<int>{1, 1, 1, 10, 0}));
  EXPECT_EQ(ok[5].payload, ok[6].payload);
  const TBytes& first = ok[5].payload;
  ASSERT_EQ(first.size(), 4u + 3 * 58);
  EXPECT_EQ(GetU32(first.data()), 7u);
  const uint8_t* rec = first.data() + 4;
  EXPECT_EQ(GetU16(rec), 1);  // line 1
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec + 2), 5), dish[1]);
  EXPECT_EQ(GbkToUtf8(std::string(reinterpret_cast<const char*>(rec + 7), 8)), "麻婆豆腐");
  EXPECT_EQ(GbkToUtf8(std::string(reinterpret_cast<const char*>(rec + 27), 2)), "份");
  float qty;
  std::memcpy(&qty, rec + 41, 4);
  EXPECT_EQ(qty, 2.0f);
  EXPECT_EQ(static_cast<int32_t>(GetU32(rec + 49)), 3800);
  EXPECT_EQ(ok[9].payload.size(), 4u + 58);  // the seventh line alone
  EXPECT_EQ(GetU16(ok[9].payload.data() + 4), 7);

  // The second read: frame 2 refused by the terminal; the PC echoes the code with the
  // procedure's text.
  EXPECT_EQ(ok[10].frNo, 1);
  EXPECT_EQ(ok[11].frNo, 2);
  EXPECT_EQ(er[2].payload[0], RC_TERM_FRAMENO);
  EXPECT_EQ(er[2].Text().rfind("单号" + BillNo(), 0), 0u) << er[2].Text();
  // The third: one frame, then the end word; the ordering mode sends nothing more.
  EXPECT_EQ(ok[12].frNo, 1);

  const std::vector<std::string> expected = {
      FormatCommDayLine(static_cast<int>(terminal), "登陆", RC_DEMO_BADOPPSW, "操作员密码错误"),
      FormatCommDayLine(static_cast<int>(terminal), "登陆", RC_OK, "返回OK"),
      FormatCommDayLine(static_cast<int>(terminal), "开台", RC_OK, "返回OK"),
      FormatCommDayLine(static_cast<int>(terminal), "点菜单", RC_OK, "返回OK"),
      FormatCommDayLine(static_cast<int>(terminal), "查账单", RC_OK, "返回OK"),
      FormatCommDayLine(static_cast<int>(terminal), "查账单", RC_TERM_FRAMENO, er[2].Text()),
      FormatCommDayLine(static_cast<int>(terminal), "查账单", RC_OK, "返回OK"),
  };
  EXPECT_EQ(s.DayLog(), expected);
  EXPECT_EQ(db->Scalar("SELECT string_agg(ok::text, ',' ORDER BY id) FROM login_log WHERE terminal_no = " +
                       std::to_string(static_cast<int32_t>(terminal))),
            "false,true");
}

// A terminal that misses an acknowledgement sends the same frame again, and after a
// time-out the whole order again: neither may double a line.
TEST_F(TOrderingFixture, ResentFramesDoNotDoubleOrderLines) {
  TTermSession s(0, terminal, kPsw);
  s.Request(kOpenTable, OpenTablePayload());
  s.Reply(CMD_END);
  s.Request(kOrder, HeaderPayload(kOpTime), 1);
  s.Reply(kOrder, 2, Dishes(1, 2));
  s.Reply(kOrder, 2, Dishes(1, 2));  // the acknowledgement was lost: frame 2 again
  s.Reply(kOrder, 0, Dishes(3, 1));
  s.Reply(CMD_END);
  // The whole order once more.
  s.Request(kOrder, HeaderPayload(kOpTime), 1);
  s.Reply(kOrder, 2, Dishes(1, 2));
  s.Reply(kOrder, 0, Dishes(3, 1));
  s.Reply(CMD_END);
  s.Run();
  EXPECT_TRUE(s.failures.empty()) << s.failures.front();
  EXPECT_EQ(LineCount(), 3);
  EXPECT_EQ(
      db->Scalar("SELECT string_agg(rec_no::text, ',' ORDER BY line_no) FROM bill_line WHERE bill_no = " +
                 Lit(BillNo())),
      "1,2,3");
  EXPECT_EQ(db->Scalar("SELECT count(*) FROM order_header WHERE table_no = " + Lit(table)), "1");
  const auto ok = s.PcFrames(CMD_OK);
  ASSERT_EQ(ok.size(), 1u + 4 + 3);
  EXPECT_EQ(ok[2].Text(), "点菜成功");
  EXPECT_EQ(ok[3].frNo, 2);
  EXPECT_EQ(ok[3].Text(), "点菜成功(重复记录)");
  EXPECT_EQ(ok[7].Text(), "点菜成功(重复记录)");
  EXPECT_TRUE(s.PcFrames(CMD_ER).empty());
}

// Two terminals order side by side: a dish frame from a terminal that sent no header of its
// own is refused, and never lands on the other terminal's table.
TEST_F(TOrderingFixture, DishFrameWithoutItsOwnHeaderIsRefused) {
  const uint32_t other = TDemoDb::FreshTerminal();
  TTermSession a(0, terminal, kPsw);
  a.Request(kOpenTable, OpenTablePayload());
  a.Reply(CMD_END);
  a.Request(kOrder, HeaderPayload(kOpTime), 1);
  a.Reply(kOrder, 0, Dishes(1, 1));
  a.Reply(CMD_END);
  a.Run();
  EXPECT_TRUE(a.failures.empty()) << a.failures.front();
  ASSERT_EQ(LineCount(), 1);

  TTermSession b(0, other, kPsw);
  b.Request(kOrder, Dishes(2, 2), 0);
  b.Silent();  // the "ER"
  EXPECT_EQ(b.Cycle(), RC_BADFORMAT);
  const auto er = b.PcFrames(CMD_ER);
  ASSERT_EQ(er.size(), 1u);
  EXPECT_EQ(er[0].payload[0], RC_BADFORMAT);
  EXPECT_EQ(er[0].Text(), iErrToStr(RC_BADFORMAT));
  EXPECT_EQ(LineCount(), 1);
  EXPECT_EQ(db->Scalar("SELECT count(*) FROM order_header WHERE table_no = " + Lit(table)), "1");
}

// A memo and a temporary dish's name with a quote and a comma: the order is saved with every
// value in its place, and the bill gives the name back as it was typed.
TEST_F(TOrderingFixture, QuotesAndCommasInAnOrderArriveUnchanged) {
  TTermSession s(0, terminal, kPsw);
  s.Request(kOpenTable, OpenTablePayload());
  s.Reply(CMD_END);
  TPayload header;
  header.b = HeaderPayload(kOpTime);
  header.Text(8, 14, "12\",thin");
  s.Request(kOrder, header, 1);
  s.Reply(kOrder, 0,
          TPayload(57)
              .U8(0, 1)
              .Text(1, 5, "T0001")
              .Text(6, 20, "Pizza 12\",thin")
              .Text(26, 4, "份")
              .Single(40, 1)
              .Money(48, 4500)
              .U8(55, 1));
  s.Reply(CMD_END);
  s.Request(kBill, TPayload(8).Text(0, 4, table).Text(4, 4, op));
  s.AckAll();
  s.Run();
  EXPECT_TRUE(s.failures.empty()) << s.failures.front();
  EXPECT_TRUE(s.PcFrames(CMD_ER).empty()) << s.PcFrames(CMD_ER).front().Text();
  EXPECT_EQ(db->Scalar("SELECT memo FROM order_header WHERE table_no = " + Lit(table)), "12\",thin");
  EXPECT_EQ(db->Scalar("SELECT dish_name || '|' || unit || '|' || price FROM bill_line WHERE bill_no = " +
                       Lit(BillNo())),
            "Pizza 12\",thin|份|45.00");
  const auto ok = s.PcFrames(CMD_OK);
  ASSERT_EQ(ok.size(), 1u + 2 + 1);  // open, header and dish, the bill
  ASSERT_EQ(ok[3].payload.size(), 4u + 58);
  const char* rec = reinterpret_cast<const char*>(ok[3].payload.data() + 4);
  EXPECT_EQ(std::string(rec + 7, 15), std::string("Pizza 12\",thin") + '\0');
  EXPECT_EQ(GbkToUtf8(std::string(rec + 27, 2)), "份");
  EXPECT_EQ(static_cast<int32_t>(GetU32(ok[3].payload.data() + 4 + 49)), 4500);
}

// A line break followed by a Chinese character in a memo is saved as it is, and neither
// that request nor the link suffers.
TEST_F(TOrderingFixture, LineBreakBeforeAChineseCharacterKeepsTheLink) {
  TTermSession s(0, terminal, kPsw);
  s.Request(kOpenTable,
            TPayload(26).Text(0, 4, table).Text(4, 2, "4").Text(10, 12, "AB\r宴\n席").Text(22, 4, op));
  s.Reply(CMD_END);
  s.Request(kBill, TPayload(8).Text(0, 4, table).Text(4, 4, op));
  s.AckAll();
  s.Run();
  EXPECT_TRUE(s.failures.empty()) << s.failures.front();
  EXPECT_TRUE(s.PcFrames(CMD_ER).empty()) << s.PcFrames(CMD_ER).front().Text();
  EXPECT_EQ(db->Scalar("SELECT memo FROM bill WHERE bill_no = " + Lit(BillNo())), "AB\r宴\n席");
  EXPECT_TRUE(dtDbLink().LocalDbLink.Connected());
  EXPECT_TRUE(GetDbLinked());
}

TEST_F(TOrderingFixture, UploadFailuresThroughTheCycle) {
  struct TCase {
    uint16_t code;
    TBytes header;  // sent first as frame 1 when not empty
    TBytes payload;
    int result;
    std::string text;  // "" = the code's own text
  };
  const TCase cases[] = {
      {kOpenTable, {}, TBytes(25, 'A'), RC_BADFORMAT, ""},            // not whole records
      {kOpenTable, {}, {}, RC_BADFORMAT, ""},                         // no payload
      {kOrder, HeaderPayload(-1), Dishes(1, 1), RC_SVC_CONVERT, ""},  // order time before 1980
      {kOpenTable, {}, TPayload(26).Text(0, 4, "Q?!").Text(22, 4, op), RC_DEMO_NOTABLE, "台号不存在:Q?!"},
  };
  for (const TCase& c : cases) {
    TTermSession s(0, terminal, kPsw);
    if (!c.header.empty()) {
      s.Request(c.code, c.header, 1);
      s.Reply(c.code, 0, c.payload);
    } else {
      s.Request(c.code, c.payload, 0);
    }
    s.Silent();  // the "ER"
    EXPECT_EQ(s.Cycle(), c.result);
    const auto er = s.PcFrames(CMD_ER);
    ASSERT_EQ(er.size(), 1u) << c.result;
    EXPECT_EQ(er[0].payload[0], c.result);
    EXPECT_EQ(er[0].Text(), c.text.empty() ? iErrToStr(c.result) : c.text);
    if (c.result == RC_SVC_CONVERT) {
      EXPECT_NE(s.home.ErrLogText().find("DT_Seconds Error:-1"), std::string::npos);
    }
  }
  EXPECT_EQ(db->Scalar("SELECT state FROM dining_table WHERE table_no = " + Lit(table)), "0");
  EXPECT_EQ(db->Scalar("SELECT count(*) FROM order_header WHERE table_no = " + Lit(table)), "0");
}

}  // namespace
}  // namespace qv::test

#include <gtest/gtest.h>

#include "base/Text.h"

namespace qv {
namespace {

TEST(Text, GbkRoundTrip) {
  const std::string utf8 = "盘点机无线服务程序 A1";
  const std::string gbk = Utf8ToGbk(utf8);
  EXPECT_EQ(gbk.substr(0, 6), "\xC5\xCC\xB5\xE3\xBB\xFA");  // 盘点机
  EXPECT_EQ(gbk.size(), 18u + 3u);
  EXPECT_EQ(GbkToUtf8(gbk), utf8);
  EXPECT_EQ(Utf8ToGbk(""), "");
  EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(Text, BadInputBecomesQuestionMark) {
  struct Case {
    std::string in;
    bool toGbk;
    std::string out;
  };
  const Case cases[] = {
      {"a\xFF"
       "b",
       true, "a?b"},  // invalid UTF-8 byte
      {"a\xF0\x9F\x98\x80"
       "b",
       true, "a?b"},              // valid UTF-8 without a GBK form
      {"a\xE7\x9B", true, "a?"},  // truncated UTF-8 at the end
      {"a\xC5", false, "a?"},     // truncated GBK at the end
      {"a\xFF"
       "b",
       false, "a?b"},        // not a GBK lead byte
      {"\x80", false, "€"},  // the euro sign of code page 936
      {"\xC5\xCC\xFF", false, "盘?"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.toGbk ? Utf8ToGbk(c.in) : GbkToUtf8(c.in), c.out) << c.in;
  }
}

TEST(Text, GbkWidth) {
  EXPECT_EQ(GbkWidth(""), 0);
  EXPECT_EQ(GbkWidth("机号:12"), 7);
  EXPECT_EQ(GbkWidth("命令:下传菜品信息"), 17);
}

TEST(Text, StrToIntDef) {
  struct Case {
    const char* in;
    int out;
  };
  const Case cases[] = {
      {"0", 0},
      {"42", 42},
      {"+42", 42},
      {"-42", -42},
      {" 42", 42},
      {"42 ", -1},
      {"", -1},
      {"-", -1},
      {"+", -1},
      {"4x2", -1},
      {"12abc", -1},
      {"1.5", -1},
      {"$10", -1},
      {"0x10", -1},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"2147483648", -1},
      {"99999999999999999999", -1},
  };
  for (const Case& c : cases) EXPECT_EQ(StrToIntDef(c.in, -1), c.out) << '"' << c.in << '"';
}

TEST(Text, Trim) {
  EXPECT_EQ(Trim("  a b \t\r\n"), "a b");
  EXPECT_EQ(Trim(" \t "), "");
  EXPECT_EQ(Trim("x"), "x");
}

TEST(Text, SameText) {
  EXPECT_TRUE(SameText("W-PLU", "w-plu"));
  EXPECT_TRUE(SameText("", ""));
  EXPECT_FALSE(SameText("W-PLU", "W-PLU "));
  EXPECT_FALSE(SameText("盘", "盘点"));
}

}  // namespace
}  // namespace qv

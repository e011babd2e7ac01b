#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "TempHome.h"
#include "base/Fields.h"

namespace qv {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

struct SplitCase {
  std::string text;
  std::vector<std::string> fields;
};

// The scan as terminals' texts have always been split, its oddities included.
const SplitCase kSplitCases[] = {
    {"", {}},
    {"a,b", {"a", "b"}},
    {"a,,b", {"a", "", "b"}},                  // empty field between two commas
    {"a,", {"a"}},                             // a trailing empty field is dropped
    {",", {""}},
    {"\"x,y\",z", {"x,y", "z"}},               // comma inside quotes stays in the field
    {"a,\"\",b", {"a", "", "b"}},              // two adjacent quotes: empty field
    {"2,\"S001\"", {"2", "S001"}},
    {"\"a\",", {"a"}},
    {"\"a\"\"b\",c", {"a\"\"b", "c"}},         // doubled quotes are not collapsed
    {"\"a\" ,b", {"a\" ,"}},                   // blank after the closing quote: one field
    {"a\"b,c", {"a\"b,c"}},                    // one quote opens a field to the end
    {"\"", {""}},
    {"a\r\nb", {"a", "b"}},
    {"\"a\"\r\n\"b\"", {"a", "b"}},
    {"a\rXb", {"a", "b"}},                     // the character after a line end is skipped
    {std::string("a\0bc", 4), {"a", "c"}},     // NUL ends a line too
    {"\"q\"\r\n", {"q"}},
    {"1,\"凉菜\",12.5", {"1", "凉菜", "12.5"}},
};

class ToStringsTest : public ::testing::TestWithParam<SplitCase> {
 protected:
  test::TTempHome home{test::kWithTrace};
};

TEST_P(ToStringsTest, Splits) {
  TStringList list;
  ASSERT_TRUE(toStrings(GetParam().text, &list));
  EXPECT_THAT(list, ElementsAreArray(GetParam().fields));
}

INSTANTIATE_TEST_SUITE_P(Cases, ToStringsTest, ::testing::ValuesIn(kSplitCases));

TEST(ToStrings, LineEndAsLastCharacterStopsWithLogLine) {
  test::TTempHome home{test::kWithTrace};
  TStringList list;
  ASSERT_TRUE(toStrings("a,b\r", &list));
  EXPECT_THAT(list, ElementsAre("a", "b"));
  EXPECT_THAT(home.ResultLog(), ElementsAre("chr_cnt>iSrclen break2!"));
}

TEST(ToStrings, AppendsToTheGivenListAndNeedsOne) {
  TStringList list{"kept"};
  ASSERT_TRUE(toStrings("x", &list));
  EXPECT_THAT(list, ElementsAre("kept", "x"));
  EXPECT_FALSE(toStrings("x", nullptr));
}

TEST(UpperCaseTest, OnlyAsciiLetters) {
  EXPECT_EQ(UpperCase("rt-login"), "RT-LOGIN");
  EXPECT_EQ(UpperCase("w-plu凉"), "W-PLU凉");
}

}  // namespace
}  // namespace qv

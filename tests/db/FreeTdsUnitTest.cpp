// The pure parts of what the ODBC backend does around FreeTDS: the connection string in
// FreeTDS's reading, date texts, plain decimals, single-precision text, Browser answers.
#include <gtest/gtest.h>

#include "db/Db.h"
#include "db/FreeTds.h"

using namespace qv::db;
using namespace qv::db::detail;

namespace {

TEST(FreeTdsText, ConnectionStringAsFreeTdsReadsIt) {
  const struct {
    std::string value;
    std::string written;
  } cases[] = {
      {"secret", "PWD=secret;"}, {"a}}b", "PWD=a}}b;"},  // read up to ';': no quoting needed, braces as they
                                                         // are
      {"a}b=c", "PWD=a}b=c;"},   {"a;b}c", "PWD={a;b}c};"},  // braced, the '}' not doubled (FreeTDS would
                                                             // keep both)
      {"ab}", "PWD=ab};"},       {"x;y}", "PWD={x;y}};"},    // ends at the '}' that ';' follows
      {"{x", "PWD={{x};"},       {" x ", "PWD={ x };"},     {"收银员", "PWD=收银员;"}, {"", "PWD=;"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.value);
    EXPECT_EQ(FreeTdsConnectionString({{"PWD", k.value}}), k.written);
  }
  EXPECT_EQ(FreeTdsConnectionString({{"Driver", "FreeTDS"}, {"Server", "h"}, {"Language", ""}}),
            "Driver=FreeTDS;Server=h;Language=;");
  try {
    FreeTdsConnectionString({{"PWD", "a};b"}});
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Kind(), TErrorKind::Unsupported);
  }
}

std::string Show(const std::optional<TTimestamp>& t) {
  if (!t) return "-";
  char b[64];
  snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%09u", t->Year, t->Month, t->Day, t->Hour, t->Minute,
           t->Second, t->Nanos);
  return b;
}

TEST(FreeTdsText, DateTextsAreReadExactlyOrNotAtAll) {
  const struct {
    const char* text;
    const char* read;  // "-": not a date
  } cases[] = {
      {"20240102123456", "2024-01-02 12:34:56.000000000"},
      {"202401021234", "2024-01-02 12:34:00.000000000"},
      {"20240102", "2024-01-02 00:00:00.000000000"},
      {"20240102 12:34:56", "2024-01-02 12:34:56.000000000"},
      {"20240102T12:34", "2024-01-02 12:34:00.000000000"},
      {"2024-1-2 3:04:05", "2024-01-02 03:04:05.000000000"},
      {"2024/01/02  12:34:56", "2024-01-02 12:34:56.000000000"},
      {"2024.01.02", "2024-01-02 00:00:00.000000000"},
      {"2024-01-02T03:04:05.25", "2024-01-02 03:04:05.250000000"},
      {" 2024-02-29 ", "2024-02-29 00:00:00.000000000"},
      {"12:34", "1900-01-01 12:34:00.000000000"},
      {"23:59:59.999", "1900-01-01 23:59:59.999000000"},
      {"2024-13-01", "-"},
      {"2023-02-29", "-"},
      {"2024-04-31", "-"},
      {"20241301000000", "-"},
      {"2024010", "-"},
      {"202401021", "-"},
      {"2024010212345", "-"},
      {"2024-01-02 24:00", "-"},
      {"2024-01-02 12:60", "-"},
      {"2024-01-02 1234", "-"},
      {"2024-01/02", "-"},
      {"2024-01-02x", "-"},
      {"12.5", "-"},
      {"", "-"},
      {"Jan 2 2024", "-"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    EXPECT_EQ(Show(ParseDateTimeText(k.text)), k.read);
  }
  EXPECT_TRUE(LooksLikeNumericDate("2024-13-01"));
  EXPECT_TRUE(LooksLikeNumericDate("12.5"));
  EXPECT_FALSE(LooksLikeNumericDate("Jan 2 2024"));
  EXPECT_FALSE(LooksLikeNumericDate("2024年1月2日"));
}

TEST(FreeTdsText, ExponentNumbersBecomePlainDecimals) {
  const struct {
    const char* text;
    const char* plain;  // "-": no number
  } cases[] = {
      {"1e3", "1000"},    {"1E3", "1000"},    {"-1.5E-7", "-0.00000015"},
      {"+2.5e1", "25"},   {"1.23e1", "12.3"}, {".5e1", "5"},
      {"5e-1", "0.5"},    {"0e5", "0"},       {"-0e0", "0"},
      {"12.50", "12.50"}, {"12", "12"},       {" 7 ", "7"},
      {"abc", "-"},       {"1e", "-"},        {"1e3x", "-"},
      {"1e999", "-"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    EXPECT_EQ(PlainDecimal(k.text).value_or("-"), k.plain);
  }
}

TEST(FreeTdsText, SingleValuesShowTheirShortestDigits) {
  const struct {
    float value;
    const char* text;
  } cases[] = {{0.1f, "0.1"},
               {1234567.9f, "1234567.9"},
               {16777216.f, "16777216"},
               {-2.5f, "-2.5"},
               {1.0f / 3, "0.33333334"},
               {1e20f, "1E20"},
               {0.0f, "0"},
               {1e-6f, "1E-6"}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.text);
    EXPECT_EQ(FormatSingle(k.value), k.text);
  }
}

TEST(FreeTdsText, BrowserAnswers) {
  const std::string one =
      "ServerName;SHOP;InstanceName;SQLEXPRESS;IsClustered;No;Version;15.0.2000.5;tcp;1433;;";
  EXPECT_EQ(InstancePortFromAnswer(one, "sqlexpress"), 1433);
  EXPECT_EQ(InstancePortFromAnswer(one, "OTHER"), -1);
  EXPECT_EQ(InstancePortFromAnswer("ServerName;SHOP;InstanceName;A;IsClustered;No;Version;15.0;tcp;1500;;"
                                   "ServerName;SHOP;InstanceName;B;IsClustered;No;Version;15.0;tcp;1600;;",
                                   "B"),
            1600);
  EXPECT_EQ(InstancePortFromAnswer("ServerName;SHOP;InstanceName;SQLEXPRESS;IsClustered;No;Version;15.0;np;"
                                   "\\\\SHOP\\pipe\\sql\\query;;",
                                   "SQLEXPRESS"),
            0);
  EXPECT_EQ(InstancePortFromAnswer("garbage", "SQLEXPRESS"), -1);
  EXPECT_EQ(InstancePortFromAnswer("", "SQLEXPRESS"), -1);
}

}  // namespace

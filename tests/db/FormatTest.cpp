// ADO's as-string rendering of numbers (pure).
#include <gtest/gtest.h>

#include "db/Db.h"

using namespace qv::db;

TEST(Format, FloatGeneral15) {
  const std::pair<double, const char*> cases[] = {
      {12.5, "12.5"},
      {12.0, "12"},
      {-0.29, "-0.29"},
      {0.1 + 0.2, "0.3"},
      {0, "0"},
      {-0.0, "0"},
      {100, "100"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {1234567890123456.0, "1.23456789012346E15"},
      {1e20, "1E20"},
      {0.00001, "0.00001"},
      {0.000001, "1E-6"},
      {-1.5e-7, "-1.5E-7"},
      {3.14159265358979323846, "3.14159265358979"},
      {2.0 / 3.0, "0.666666666666667"},
      {1234.5678, "1234.5678"},
  };
  for (auto [v, want] : cases) EXPECT_EQ(FormatFloat(v), want) << v;
}

TEST(Format, SinglePrecision7) {
  EXPECT_EQ(FormatFloat(static_cast<double>(0.1f), 7), "0.1");
  EXPECT_EQ(FormatFloat(static_cast<double>(1.25f), 7), "1.25");
  EXPECT_EQ(FormatFloat(static_cast<double>(12345678.0f), 7), "1.234568E7");
}

TEST(Format, DecimalText) {
  const std::pair<const char*, const char*> cases[] = {
      {"12.50", "12.5"},
      {"12.5000", "12.5"},
      {"12.00", "12"},
      {"-0.29", "-0.29"},
      {"-.29", "-0.29"},
      {"0.000", "0"},
      {"0", "0"},
      {"007", "7"},
      {"$1,234.50", "1234.5"},
      {"-$3.00", "-3"},
      {"($3.10)", "-3.1"},
      {"1234567890.123456789", "1234567890.12346"},
      {"9.9999999999999999", "10"},
      {"99999999999999999", "1E17"},
      {"0.00000123", "1.23E-6"},
      {"0.0000123", "0.0000123"},
      {"NaN", "NAN"},
      {"1.5e3", "1500"},
  };
  for (auto [in, want] : cases) EXPECT_EQ(FormatDecimalText(in), want) << in;
}

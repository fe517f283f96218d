#include "common/value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>

#include "tests/unit/outcome.h"

namespace kz {
namespace {

const Value kNull = Value::Null();
std::string Shown(const Value& v) {
  return Outcome([&] { return v.DisplayText(); });
}

// Catches a point instead of the decimal comma, an exponent too early (or
// missing), a rounded shortest text, lost exact database digits, and Null shown
// instead of raising 94.
TEST(ValueTest, DisplayText) {
  const std::pair<Value, const char*> cases[] = {
      {kNull, "#94"},
      {Currency::Parse("-0,25"), "-0,25"},
      {0.1 + 0.2, "0,30000000000000004"},
      {1.5e-7, "0,00000015"},
      {1e15, "1E+15"},
      {-1.5e-16, "-1,5E-16"},
      {Value::ExactDouble(-1234500, 4), "-123,45"},
      {DateTime{2017, 1, 5, 14, 3, 9}, "05/01/2017 14:03:09"},
  };
  for (const auto& [v, shown] : cases) EXPECT_EQ(Shown(v), shown);
}

// Catches rounding half away from zero or truncating, a range check before
// rounding (or none), the thousands point read as a decimal point, a trailing
// sign ignored, and the wrong error for Null or a non-number.
TEST(ValueTest, WholeNumberConversions) {
  const std::tuple<Value, const char*, const char*> cases[] = {
      {2.5, "2", "2"},
      {3.5, "4", "4"},
      {Currency::Parse("0,5"), "0", "0"},
      {"1.234", "1234", "1234"},
      {" 12- ", "-12", "-12"},
      {32767.5, "#6", "32768"},
      {-32768.5, "-32768", "-32768"},
      {2147483647.5, "#6", "#6"},
      {DateTime::Date(1900, 1, 1), "2", "2"},  // the host's date serial
      {"abc", "#13", "#13"},
      {kNull, "#94", "#94"},
  };
  for (const auto& [v, as_integer, as_long] : cases) {
    EXPECT_EQ(Outcome([&] { return std::to_string(v.ToInteger()); }), as_integer) << Shown(v);
    EXPECT_EQ(Outcome([&] { return std::to_string(v.ToLong()); }), as_long) << Shown(v);
  }
}

// Catches a detour through double (losing the 18 digits), a fifth decimal not
// rounded half to even, and text read outside the fixed locale.
TEST(ValueTest, ToCurrencyIsExact) {
  const std::pair<Value, const char*> cases[] = {
      {Value::ExactDouble(123456789012345678, 4), "12345678901234,5678"},
      {Value::ExactDouble(-125, 5), "-0,0012"},
      {"1.234,5678", "1234,5678"},
      {"R$ 10,50", "10,5"},
      {"1e20", "#6"},
      {"x", "#13"},
      {kNull, "#94"},
  };
  for (const auto& [v, shown] : cases) {
    EXPECT_EQ(Outcome([&] { return v.ToCurrency().Display(); }), shown) << Shown(v);
  }
}

// Catches month-first reading, a wrong century pivot, impossible dates or
// times accepted, and numbers taken as dates.
TEST(ValueTest, ToDateReadsDayFirst) {
  const std::pair<Value, const char*> cases[] = {
      {"5/1/2017", "05/01/2017"}, {" 25/12/17 ", "25/12/2017"},
      {"1/1/30", "01/01/1930"},   {"29/02/2016 7:05", "29/02/2016 07:05:00"},
      {"29/02/2017", "#13"},      {"1/1/2017 24:00", "#13"},
      {int32_t{5}, "#13"},        {kNull, "#94"},
  };
  for (const auto& [v, shown] : cases)
    EXPECT_EQ(Outcome([&] { return v.ToDate().Display(); }), shown) << Shown(v);
}

// The comparisons the routines make (TpvEpn = 1, NfsEpn = "U1", VencConv = 0).
// Catches case-blind text, rounding before comparing, and Null taken as equal.
TEST(ValueTest, EqualsAsTheHostCompares) {
  EXPECT_TRUE(Value(int16_t{1}).Equals(1));
  EXPECT_TRUE(Value("U1").Equals("U1"));
  EXPECT_FALSE(Value("u1").Equals("U1"));
  EXPECT_TRUE(Value(Currency()).Equals(0));
  EXPECT_FALSE(Value(Currency::Parse("0,0001")).Equals(0));
  EXPECT_FALSE(Value(1.0000001).Equals(1));
  EXPECT_TRUE(Value("1,0").Equals(1));
  EXPECT_FALSE(Value("abc").Equals(0));
  EXPECT_TRUE(Value().Equals(0) && Value().Equals(""));
  EXPECT_FALSE(kNull.Equals(0) || kNull.Equals("") || kNull.Equals("Null"));
}

}  // namespace
}  // namespace kz

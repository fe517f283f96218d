#include "common/value.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/unit/outcome.h"

namespace kz {
namespace {

const Value kNull = Value::Null();

TEST(ValueTest, DisplayText) {
  struct Case {
    Value v;
    const char* shown;
  } cases[] = {
      {Value(), ""},
      {kNull, "#94"},
      {Value(int16_t{-5}), "-5"},
      {Value(Currency::Parse("150")), "150"},
      {Value(Currency::Parse("-0,25")), "-0,25"},
      {Value(12.5), "12,5"},
      {Value(0.1 + 0.2), "0,30000000000000004"},  // shortest round trip
      {Value(1.5e-7), "0,00000015"},
      {Value(123456789012345.0), "123456789012345"},
      {Value(1e15), "1E+15"},
      {Value(-1.5e-16), "-1,5E-16"},
      {Value::ExactDouble(-1234500, 4), "-123,45"},
      {Value(DateTime::Date(2017, 1, 5)), "05/01/2017"},
      {Value(DateTime{2017, 1, 5, 14, 3, 9}), "05/01/2017 14:03:09"},
      {Value("O'Brien"), "O'Brien"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome([&] { return c.v.DisplayText(); }), c.shown) << c.shown;
  }
}

TEST(ValueTest, WholeNumberConversionsRoundHalfToEven) {
  struct Case {
    Value v;
    const char* as_integer;
    const char* as_long;
  } cases[] = {
      {Value(2.5), "2", "2"},
      {Value(3.5), "4", "4"},
      {Value(Currency::Parse("0,5")), "0", "0"},
      {Value(Currency::Parse("1,5")), "2", "2"},
      {Value("1.234"), "1234", "1234"},  // the point groups thousands
      {Value("2,5"), "2", "2"},
      {Value(" 12- "), "-12", "-12"},
      {Value(int32_t{32768}), "#6", "32768"},
      {Value(32767.5), "#6", "32768"},
      {Value(-32768.5), "-32768", "-32768"},
      {Value(2147483647.5), "#6", "#6"},
      {Value(DateTime::Date(1900, 1, 1)), "2", "2"},  // the host's date serial
      {Value("abc"), "#13", "#13"},
      {kNull, "#94", "#94"},
  };
  for (const Case& c : cases) {
    std::string label = Outcome([&] { return c.v.DisplayText(); });
    EXPECT_EQ(Outcome([&] { return std::to_string(c.v.ToInteger()); }), c.as_integer) << label;
    EXPECT_EQ(Outcome([&] { return std::to_string(c.v.ToLong()); }), c.as_long) << label;
  }
}

TEST(ValueTest, ToCurrencyIsExact) {
  struct Case {
    Value v;
    const char* shown;
  } cases[] = {
      // More digits than a double holds: the exact database digits are used.
      {Value::ExactDouble(123456789012345678, 4), "12345678901234,5678"},
      {Value::ExactDouble(-125, 5), "-0,0012"},
      {Value("1.234,5678"), "1234,5678"},
      {Value("99999999999,99999"), "100000000000"},
      {Value("R$ 10,50"), "10,5"},
      {Value("1e20"), "#6"},
      {Value("x"), "#13"},
      {kNull, "#94"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome([&] { return c.v.ToCurrency().Display(); }), c.shown) << c.shown;
  }
}

TEST(ValueTest, ToDateReadsDayFirst) {
  struct Case {
    Value v;
    const char* shown;
  } cases[] = {
      {Value("5/1/2017"), "05/01/2017"},
      {Value(" 25/12/17 "), "25/12/2017"},
      {Value("1/1/30"), "01/01/1930"},
      {Value("29/02/2016 7:05"), "29/02/2016 07:05:00"},
      {Value(DateTime{2017, 1, 5, 1, 2, 3}), "05/01/2017 01:02:03"},
      {Value("29/02/2017"), "#13"},
      {Value("1/1/2017 24:00"), "#13"},
      {Value(int32_t{5}), "#13"},
      {kNull, "#94"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome([&] { return c.v.ToDate().Display(); }), c.shown) << c.shown;
  }
}

TEST(ValueTest, EqualsAsTheHostCompares) {
  EXPECT_TRUE(Value(int16_t{1}).Equals(1));  // TpvEpn = 1
  EXPECT_TRUE(Value("U1").Equals("U1"));     // NfsEpn = "U1"
  EXPECT_FALSE(Value("u1").Equals("U1"));
  EXPECT_TRUE(Value(Currency()).Equals(0));  // VencConv = 0
  EXPECT_FALSE(Value(Currency::Parse("0,0001")).Equals(0));
  EXPECT_TRUE(Value(1.0).Equals(1));
  EXPECT_FALSE(Value(1.0000001).Equals(1));
  EXPECT_TRUE(Value("1,0").Equals(1));
  EXPECT_FALSE(Value("1,00001").Equals(1));
  EXPECT_FALSE(Value("abc").Equals(0));
  EXPECT_TRUE(Value().Equals(0));
  EXPECT_TRUE(Value().Equals(""));
  EXPECT_FALSE(kNull.Equals(0));
  EXPECT_FALSE(kNull.Equals(""));
  EXPECT_FALSE(kNull.Equals("Null"));
}

}  // namespace
}  // namespace kz

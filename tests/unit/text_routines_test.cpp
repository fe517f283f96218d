#include "common/text_routines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "tests/unit/outcome.h"

namespace kz {
namespace {

TEST(TextRoutinesTest, Campo) {
  struct Case {
    Value text;
    int16_t n;
    const char* field;
  } cases[] = {
      {"a|b|c", 1, "a"}, {"a|b|c", 3, "c"},      {"a|b|c", 4, ""}, {"a|b|c", 5, ""},
      {"a|b|c", 0, ""},  {"a|b|c", -1, ""},      {"a||c", 2, ""},  {"a||c", 3, "c"},
      {"a|b|", 3, ""},   {"a|b|", 2, "b"},       {"", 1, ""},      {Value::Null(), 1, ""},
      {"abc", 1, "abc"}, {int32_t{42}, 1, "42"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Campo(c.text, "|", c.n), c.field) << c.text.DisplayText() << " field " << c.n;
  }
}

TEST(TextRoutinesTest, CampoPositionsAre16Bit) {
  Value long_text(std::string(32766, 'x') + "|" + std::string(10, 'y'));
  EXPECT_EQ(Campo(long_text, "|", 1), std::string(32766, 'x'));
  Value longer_text(std::string(32767, 'x') + "|y");
  EXPECT_EQ(Outcome([&] { return Campo(longer_text, "|", 1); }), "#6");
}

TEST(TextRoutinesTest, ValorNumerico) {
  struct Case {
    Value text;
    double number;
    const char* left;  // the caller's variable afterwards
  } cases[] = {
      {"5", 5, "5"},
      {"1.234,56", 1234.56, "1234.56"},
      {"-1.234,56", -1234.56, "1234.56"},
      {"1.234,56-", -1234.56, "1234.56"},
      {"12-", -12, "12"},
      {"7-", -7, "7"},
      {"-7,0", -7, "-7,0"},
      {"R$ 10,50", 10.5, "10.50"},
      {"1.234", 1.234, "1.234"},  // no comma: the point is the decimal point
      {"2,5,7", 2.5, "2.5,7"},
      {"abc12", 12, "12"},
      {"12abc", 12, "12abc"},
      {"abc", 0, ""},
      {"", 0, ""},
      {"20-30", -2030, "2030"},  // a dash anywhere makes it negative
      {"--", 0, ""},
      {Value(Currency::Parse("-12,5")), -12.5, "12.5"},
  };
  for (const Case& c : cases) {
    Value text = c.text;
    std::string label = c.text.DisplayText();
    EXPECT_DOUBLE_EQ(ValorNumerico(text), c.number) << label;
    EXPECT_EQ(text.DisplayText(), c.left) << label;
  }
  Value null = Value::Null();
  EXPECT_EQ(ValorNumerico(null), 0);
  EXPECT_TRUE(null.IsNull());
}

TEST(TextRoutinesTest, Substitui) {
  Value text("a-b-c");
  EXPECT_EQ(Substitui(text, "-", ""), "abc");
  EXPECT_EQ(text.DisplayText(), "abc");
  Value untouched(int32_t{7});
  EXPECT_EQ(Substitui(untouched, "-", ""), "7");
  EXPECT_EQ(untouched.GetType(), Value::Type::Long);
  // Each search starts from the beginning again, so pairs formed by a removal go too.
  Value nested("aabb");
  EXPECT_EQ(Substitui(nested, "ab", ""), "");
  Value endless("a-");
  EXPECT_EQ(Outcome([&] { return Substitui(endless, "-", "--"); }), "#5");
}

TEST(TextRoutinesTest, AspasAndPontoDecimal) {
  struct Case {
    Value v;
    const char* quoted;
    const char* pointed;
  } cases[] = {
      {"abc", "'abc'", "abc"},
      {Value::Null(), "''", "#94"},
      {Value(), "''", ""},
      {"O'Brien", "'O''Brien'", "O'Brien"},  // one literal, quote doubled
      {"''", "''''''", "''"},
      {Value(Currency::Parse("12,5")), "'12,5'", "12.5"},
      {"1,2,3", "'1,2,3'", "1.2,3"},
      {int32_t{7}, "'7'", "7"},
      {DateTime::Date(2017, 1, 5), "'05/01/2017'", "05/01/2017"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Aspas(c.v), c.quoted);
    EXPECT_EQ(Outcome([&] { return PontoDecimal(c.v); }), c.pointed) << c.quoted;
  }
}

TEST(TextRoutinesTest, LeadingNumber) {
  struct Case {
    const char* text;
    double number;
  } cases[] = {
      {"12abc", 12},   {"1.5", 1.5}, {"1,5", 1},  {"abc", 0},     {"", 0},       {" - 1 2", -12},
      {"\t1\n2", 12},  {"+5", 5},    {".5", 0.5}, {"1.2.3", 1.2}, {"1e3", 1000}, {"1D2", 100},
      {"1E-2x", 0.01}, {"12e", 12},  {"--5", 0},  {"1e-400", 0},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(LeadingNumber(c.text), c.number) << c.text;
  EXPECT_EQ(Outcome([] { return std::to_string(LeadingNumber("1e400")); }), "#6");
}

TEST(TextRoutinesTest, LocaleNumber) {
  struct Case {
    const char* text;
    bool is_number;
    double number;
  } cases[] = {
      {"1.234,56", true, 1234.56}, {" -7 ", true, -7},
      {"12-", true, -12},          {"R$ 10,50", true, 10.5},
      {"-R$ 5", true, -5},         {",5", true, 0.5},
      {"1,5E2", true, 150},        {"1.2.3", true, 123},
      {"1..2", false, 0},          {".5", false, 0},
      {"1,2,3", false, 0},         {"-1-", false, 0},
      {"1,5E", false, 0},          {"", false, 0},
      {"abc", false, 0},           {"1e400", false, 0},
  };
  for (const Case& c : cases) {
    double number = 0;
    EXPECT_EQ(LocaleNumber(c.text, &number), c.is_number) << c.text;
    if (c.is_number) {
      EXPECT_DOUBLE_EQ(number, c.number) << c.text;
    }
  }
}

}  // namespace
}  // namespace kz

#include "common/text_routines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "tests/unit/outcome.h"

namespace kz {
namespace {

// Catches an off-by-one field count, a trailing separator that drops the
// last (empty) field, and 16-bit positions that do not overflow.
TEST(TextRoutinesTest, Campo) {
  const std::tuple<Value, int16_t, const char*> cases[] = {
      {"a|b|c", 1, "a"}, {"a|b|c", 3, "c"}, {"a|b|c", 4, ""},       {"a|b|c", 0, ""},
      {"a||c", 2, ""},   {"a|b|", 3, ""},   {Value::Null(), 1, ""}, {int32_t{42}, 1, "42"},
  };
  for (const auto& [text, n, field] : cases) EXPECT_EQ(Campo(text, "|", n), field) << n;
  EXPECT_EQ(Campo(std::string(32766, 'x') + "|y", "|", 1), std::string(32766, 'x'));
  EXPECT_EQ(Outcome([] { return Campo(std::string(32767, 'x') + "|y", "|", 1); }), "#6");
}

// The number and what the caller's variable holds afterwards. Catches a sign
// only read in front, the thousands point taken as a decimal point when a
// comma follows (without one it is the decimal point), more than the first
// comma converted, and the variable left uncleaned (or cleaned when the text
// already was a number).
TEST(TextRoutinesTest, ValorNumerico) {
  const std::tuple<Value, double, const char*> cases[] = {
      {"1.234,56", 1234.56, "1234.56"},
      {"1.234,56-", -1234.56, "1234.56"},
      {"20-30", -2030, "2030"},
      {"12-", -12, "12"},
      {"-7,0", -7, "-7,0"},
      {"R$ 10,50", 10.5, "10.50"},
      {"1.234", 1.234, "1.234"},
      {"2,5,7", 2.5, "2.5,7"},
      {"abc12", 12, "12"},
      {"--", 0, ""},
  };
  for (const auto& [in, number, left] : cases) {
    Value text = in;
    EXPECT_DOUBLE_EQ(ValorNumerico(text), number) << left;
    EXPECT_EQ(text.DisplayText(), left);
  }
  Value null = Value::Null();
  EXPECT_EQ(ValorNumerico(null), 0);
  EXPECT_TRUE(null.IsNull());
}

// Catches a single pass (pairs formed by a removal survive), an endless
// replacement, and a variable retyped when nothing was replaced.
TEST(TextRoutinesTest, Substitui) {
  Value nested("aabb");
  EXPECT_EQ(Substitui(nested, "ab", ""), "");
  EXPECT_EQ(nested.DisplayText(), "");
  Value untouched(int32_t{7});
  EXPECT_EQ(Substitui(untouched, "-", ""), "7");
  EXPECT_EQ(untouched.GetType(), Value::Type::Long);
  Value endless("a-");
  EXPECT_EQ(Outcome([&] { return Substitui(endless, "-", "--"); }), "#5");
}

// Catches an embedded quote left single (O'Brien must stay one literal), Null
// quoted as text, and more than the first comma turned into a point.
TEST(TextRoutinesTest, AspasAndPontoDecimal) {
  const std::tuple<Value, const char*, const char*> cases[] = {
      {"O'Brien", "'O''Brien'", "O'Brien"},
      {Value::Null(), "''", "#94"},
      {Value(), "''", ""},
      {Currency::Parse("12,5"), "'12,5'", "12.5"},
      {"1,2,3", "'1,2,3'", "1.2,3"},
  };
  for (const auto& [v, quoted, pointed] : cases) {
    EXPECT_EQ(Aspas(v), quoted);
    EXPECT_EQ(Outcome([&] { return PontoDecimal(v); }), pointed) << quoted;
  }
}

// The two number readers ValorNumerico stands on: the leading number (point
// decimal, blanks skipped, D exponent) and the whole-text locale number.
TEST(TextRoutinesTest, LeadingAndLocaleNumbers) {
  const std::pair<const char*, double> leading[] = {
      {"12abc", 12}, {"1,5", 1}, {" - 1 2", -12}, {"1.2.3", 1.2},
      {"1D2", 100},  {"--5", 0}, {"1e-400", 0},   {".5", 0.5},
  };
  for (const auto& [text, number] : leading) EXPECT_DOUBLE_EQ(LeadingNumber(text), number) << text;
  EXPECT_EQ(Outcome([] { return std::to_string(LeadingNumber("1e400")); }), "#6");

  const auto locale = [](const char* text) {
    double read = 0;
    return LocaleNumber(text, &read) ? std::optional<double>(read) : std::nullopt;
  };
  const std::pair<const char*, std::optional<double>> locales[] = {
      {"1.234,56", 1234.56},   {"12-", -12},          {",5", 0.5},
      {"1,5E2", 150},          {"1.2.3", 123},        {".5", std::nullopt},
      {"1,2,3", std::nullopt}, {"-1-", std::nullopt}, {"1e400", std::nullopt},
  };
  for (const auto& [text, number] : locales) EXPECT_EQ(locale(text), number) << text;
}

}  // namespace
}  // namespace kz

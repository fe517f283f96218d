#include "common/currency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>

#include "common/value.h"
#include "tests/unit/outcome.h"

namespace kz {
namespace {

const Currency kMax = Currency::FromRaw(INT64_MAX);
const Currency kMin = Currency::FromRaw(INT64_MIN);

// Catches rounding away from even on a tie, a tie mistaken for more (or less)
// than half, a lost carry, a sign lost on small values, and the ends of the
// 64-bit range wrapping instead of raising 6.
TEST(CurrencyTest, ParseAndDisplayEdges) {
  const std::pair<const char*, const char*> cases[] = {
      {"12,5", "12,5"},          {"12.5", "12,5"}, {"-0,25", "-0,25"},    {"0,0001", "0,0001"},
      {"1,10000", "1,1"},        {"0,00005", "0"}, {"0,00015", "0,0002"}, {"-0,00035", "-0,0004"},
      {"0,000250001", "0,0003"}, {"0,99995", "1"}, {"", "#13"},           {"1,2,3", "#13"},
  };
  for (const auto& [text, shown] : cases) {
    EXPECT_EQ(Outcome([&] { return Currency::Parse(text).Display(); }), shown) << text;
  }
  const char* kTop = "922337203685477,5807";
  EXPECT_EQ(Currency::Parse(kTop).Display(), kTop);
  EXPECT_EQ(Currency::Parse("-922337203685477,58085"), kMin);
  EXPECT_EQ(Outcome([] { return Currency::Parse("922337203685477,5808").Display(); }), "#6");
  EXPECT_EQ(Outcome([] { return Currency::Parse("99999999999999999999").Display(); }), "#6");
}

// Catches rounding of the binary value instead of its written digits, and
// out-of-range or NaN doubles converted silently.
TEST(CurrencyTest, OtherSourcesRoundTheSameWay) {
  const std::pair<double, const char*> doubles[] = {
      {0.1 + 0.2, "0,3"},    {2.00005, "2"}, {2.00015, "2,0002"},
      {-1.23456, "-1,2346"}, {1e15, "#6"},   {NAN, "#6"},
  };
  for (const auto& [value, shown] : doubles) {
    EXPECT_EQ(Outcome([&] { return Currency::FromDouble(value).Display(); }), shown) << value;
  }
  EXPECT_EQ(Currency::FromScaled(-125, 5).Display(), "-0,0012");  // tie to even
  EXPECT_EQ(Currency::FromScaled(INT64_MAX, 18).Display(), "9,2234");
  EXPECT_EQ(Outcome([] { return Currency::FromScaled(INT64_MAX, 0).Display(); }), "#6");
  EXPECT_EQ(Outcome([] { return Currency::FromInt(INT64_MAX / 1000).Display(); }), "#6");
}

// Catches rounding twice (after the product), a wrong sign, and an overflow of
// the intermediate product; 33,33 × 97 ÷ 100 and 100 × 97,5 ÷ 100 are the
// card discounts.
TEST(CurrencyTest, MulDivRoundsOnceAtTheEnd) {
  const struct {
    const char *a, *b, *c, *result;
  } cases[] = {
      {"33,33", "97", "100", "32,3301"},
      {"100", "97,5", "100", "97,5"},
      {"-2", "1", "3", "-0,6667"},
      {"0,0001", "1", "2", "0"},
      {"1", "1", "0", "#11"},
  };
  for (const auto& c : cases) {
    const Currency a = Currency::Parse(c.a), b = Currency::Parse(c.b), d = Currency::Parse(c.c);
    EXPECT_EQ(Outcome([&] { return Currency::MulDiv(a, b, d).Display(); }), c.result)
        << c.a << " × " << c.b << " ÷ " << c.c;
  }
  EXPECT_EQ(Currency::MulDiv(kMax, kMax, kMax), kMax);
  EXPECT_EQ(Outcome([] { return Currency::MulDiv(kMax, kMax, Currency::FromInt(1)).Display(); }),
            "#6");
}

// A card discount as the database holds it: the net value is computed on its
// digits and rounded once. Catches the discount rounded to four decimals
// first (2.00004 would cost 0.0004 on 1000), and overflow that wraps.
TEST(CurrencyTest, MenosPorcentoUsesTheDiscountsOwnDigits) {
  const std::tuple<const char*, Value, const char*> cases[] = {
      {"1000", Value::ExactDouble(200004, 5), "979,9996"},
      {"300", Value::ExactDouble(33333333, 6), "200"},
      {"100", Value(Currency::Parse("2,5")), "97,5"},
      {"100", Value(int32_t{3}), "97"},
      {"100", Value(2.5), "97,5"},
      {"100", Value("2,5"), "97,5"},
      {"100", Value::Null(), "#94"},
      {"922337203685477", Value(int32_t{-100}), "#6"},
  };
  for (const auto& [valor, desconto, liquido] : cases) {
    EXPECT_EQ(
        Outcome([&] {
          const Value::Exato d = desconto.ToExato();
          return Currency::MenosPorcento(Currency::Parse(valor), d.unscaled, d.scale).Display();
        }),
        liquido)
        << valor;
  }
}

// Catches sums and negation that wrap around instead of raising 6.
TEST(CurrencyTest, ArithmeticOverflowRaises6) {
  const Currency tick = Currency::FromRaw(1);
  EXPECT_EQ(kMax - tick + tick, kMax);
  EXPECT_EQ(Outcome([&] { return (kMax + tick).Display(); }), "#6");
  EXPECT_EQ(Outcome([&] { return (kMin - tick).Display(); }), "#6");
  EXPECT_EQ(Outcome([&] { return (-kMin).Display(); }), "#6");
}

}  // namespace
}  // namespace kz

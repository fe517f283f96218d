#include "common/currency.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>

#include "tests/unit/outcome.h"

namespace kz {
namespace {

const Currency kMax = Currency::FromRaw(INT64_MAX);
const Currency kMin = Currency::FromRaw(INT64_MIN);

// Sign × scale × rounding boundary × overflow, parsed and displayed again.
TEST(CurrencyTest, ParseAndDisplayEdges) {
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {{"150", "150"},
               {"12,5", "12,5"},
               {"12.5", "12,5"},
               {"-0,25", "-0,25"},
               {"0,0001", "0,0001"},
               {"1,10000", "1,1"},
               // Ties go to the even neighbour; anything past a tie goes away from zero.
               {"0,00005", "0"},
               {"0,00015", "0,0002"},
               {"-0,00035", "-0,0004"},
               {"0,000250001", "0,0003"},
               {"1,00004999", "1"},
               {"0,99995", "1"},
               // The ends of the range.
               {"922337203685477,5807", "922337203685477,5807"},
               {"-922337203685477,5808", "-922337203685477,5808"},
               {"-922337203685477,58085", "-922337203685477,5808"},
               {"922337203685477,5808", "#6"},
               {"922337203685477,58075", "#6"},
               {"99999999999999999999", "#6"},
               // Not a number.
               {"", "#13"},
               {"-", "#13"},
               {"1,2,3", "#13"},
               {" 1", "#13"}};
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome([&] { return Currency::Parse(c.text).Display(); }), c.shown) << c.text;
  }
}

TEST(CurrencyTest, FromDoubleRoundsTheWrittenDigits) {
  struct Case {
    double value;
    const char* shown;
  } cases[] = {{0.1, "0,1"},
               {0.1 + 0.2, "0,3"},
               {2.00005, "2"},
               {2.00015, "2,0002"},
               {-1.23456, "-1,2346"},
               {-0.00005, "0"},
               {1e14, "100000000000000"},
               {1e15, "#6"},
               {-1e15, "#6"},
               {NAN, "#6"},
               {INFINITY, "#6"}};
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome([&] { return Currency::FromDouble(c.value).Display(); }), c.shown) << c.value;
  }
}

TEST(CurrencyTest, FromScaledAndFromInt) {
  EXPECT_EQ(Currency::FromScaled(123456, 6).Display(), "0,1235");
  EXPECT_EQ(Currency::FromScaled(-125, 5).Display(), "-0,0012");  // tie to even
  EXPECT_EQ(Currency::FromScaled(INT64_MAX, 18).Display(), "9,2234");
  EXPECT_EQ(Outcome([] { return Currency::FromScaled(INT64_MAX, 0).Display(); }), "#6");
  EXPECT_EQ(Currency::FromInt(-7).Raw(), -70000);
  EXPECT_EQ(Outcome([] { return Currency::FromInt(INT64_MAX / 1000).Display(); }), "#6");
}

TEST(CurrencyTest, MulDivRoundsOnceAtTheEnd) {
  struct Case {
    const char *a, *b, *c, *result;
  } cases[] = {
      {"33,33", "97", "100", "32,3301"},  // Valor × (100 − 3) ÷ 100
      {"100", "97,5", "100", "97,5"},     // Valor × (100 − 2,5) ÷ 100
      {"2", "1", "3", "0,6667"},
      {"-2", "1", "3", "-0,6667"},
      {"2", "-1", "3", "-0,6667"},
      {"0,0001", "1", "2", "0"},       // 0,00005: tie to even
      {"0,0003", "1", "2", "0,0002"},  // 0,00015: tie to even
      {"1", "1", "0", "#11"},
  };
  for (const Case& c : cases) {
    auto [a, b, d] = std::tuple(Currency::Parse(c.a), Currency::Parse(c.b), Currency::Parse(c.c));
    EXPECT_EQ(Outcome([&] { return Currency::MulDiv(a, b, d).Display(); }), c.result)
        << c.a << " × " << c.b << " ÷ " << c.c;
  }
  // The product may leave 64 bits as long as the quotient fits.
  EXPECT_EQ(Currency::MulDiv(kMax, kMax, kMax), kMax);
  EXPECT_EQ(Outcome([] { return Currency::MulDiv(kMax, kMax, Currency::FromInt(1)).Display(); }),
            "#6");
}

TEST(CurrencyTest, ArithmeticOverflowRaises6) {
  const Currency tick = Currency::FromRaw(1);
  EXPECT_EQ(kMax - tick + tick, kMax);
  EXPECT_EQ(Outcome([&] { return (kMax + tick).Display(); }), "#6");
  EXPECT_EQ(Outcome([&] { return (kMin - tick).Display(); }), "#6");
  EXPECT_EQ(Outcome([&] { return (-kMin).Display(); }), "#6");
}

}  // namespace
}  // namespace kz

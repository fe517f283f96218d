// Money, values and the text routines: tables of inputs and what they give
// ("#n": run-time error n).
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "common/caracteres.h"
#include "common/text_routines.h"
#include "tests/unit/outcome.h"

namespace kz {
namespace {

const Value kNull = Value::Null();
std::string Shown(const Value& v) {
  return Outcome([&] { return v.DisplayText(); });
}
template <class F>
std::string Money(F&& f) {
  return Outcome([&] { return f().Display(); });
}

// Every way into Currency rounds the written digits once, half to even, and
// raises 6 out of range. Catches a tie rounded away from even (or taken for
// more or less than half), a lost carry, a sign lost on small values, the
// binary value of a double rounded instead of its digits, and wrapping.
TEST(Currency, EveryWayInRoundsTheWrittenDigitsHalfToEven) {
  const std::pair<Value, const char*> cases[] = {
      // clang-format off
      {"12,5", "12,5"}, {"-0,25", "-0,25"}, {"0,0001", "0,0001"}, {"1,10000", "1,1"},
      {"0,00005", "0"}, {"0,00015", "0,0002"}, {"-0,00035", "-0,0004"}, {"0,99995", "1"},
      {"0,000250001", "0,0003"}, {"", "#13"}, {"1,2,3", "#13"}, {"x", "#13"}, {kNull, "#94"},
      {"1.234,5678", "1234,5678"}, {"R$ 10,50", "10,5"}, {"1e20", "#6"},
      {"922337203685477,5807", "922337203685477,5807"}, {"922337203685477,5808", "#6"},
      {"-922337203685477,58085", "-922337203685477,5808"}, {0.1 + 0.2, "0,3"}, {2.00005, "2"},
      {2.00015, "2,0002"}, {-1.23456, "-1,2346"}, {NAN, "#6"}, {1e15, "#6"},
      {Value::ExactDouble(-125, 5), "-0,0012"},
      {Value::ExactDouble(123456789012345678, 4), "12345678901234,5678"},
      // clang-format on
  };
  for (const auto& [v, shown] : cases) {
    EXPECT_EQ(Money([&] { return v.ToCurrency(); }), shown) << Shown(v);
  }
  const Currency max = Currency::FromRaw(INT64_MAX), min = Currency::FromRaw(INT64_MIN);
  const Currency tick = Currency::FromRaw(1);
  EXPECT_EQ(Money([] { return Currency::Parse("12.5"); }) + Money([] {
              return Currency::FromScaled(INT64_MAX, 18);
            }) + Money([] { return Currency::FromScaled(INT64_MAX, 0); }) +
                Money([] { return Currency::FromInt(INT64_MAX / 1000); }) +
                Money([&] { return max - tick + tick; }) + Money([&] { return max + tick; }) +
                Money([&] { return min - tick; }) + Money([&] { return -min; }),
            "12,59,2234#6#6922337203685477,5807#6#6#6");
}

// A card discount as the database holds it: the net value is computed on its
// digits and rounded once, half to even. Catches the discount rounded to four
// decimals first (2.00004 would cost 0.0004 on 1000), a tie not rounded to
// even, and overflow that wraps.
TEST(Currency, MenosPorcentoUsesTheDiscountsOwnDigits) {
  const std::tuple<const char*, Value, const char*> cases[] = {
      // clang-format off
      {"1000", Value::ExactDouble(200004, 5), "979,9996"}, {"100", Value(int32_t{3}), "97"},
      {"300", Value::ExactDouble(33333333, 6), "200"}, {"100", Value(2.5), "97,5"},
      {"100", Value(Currency::Parse("2,5")), "97,5"}, {"100", Value("2,5"), "97,5"},
      {"0,0001", Value(int32_t{50}), "0"}, {"-0,0003", Value(int32_t{50}), "-0,0002"},
      {"100", kNull, "#94"}, {"922337203685477", Value(int32_t{-100}), "#6"},
      // clang-format on
  };
  for (const auto& [valor, desconto, liquido] : cases) {
    EXPECT_EQ(Money([&] {
                const Value::Exato d = desconto.ToExato();
                return Currency::MenosPorcento(Currency::Parse(valor), d.unscaled, d.scale);
              }),
              liquido)
        << valor;
  }
}

// Catches rounding half away from zero or truncating, a range check before
// rounding (or none), the thousands point read as a decimal point, a trailing
// sign ignored, and the wrong error for Null or a non-number.
TEST(Value, WholeNumberConversions) {
  const std::tuple<Value, const char*, const char*> cases[] = {
      // clang-format off
      {2.5, "2", "2"}, {3.5, "4", "4"}, {Currency::Parse("0,5"), "0", "0"},
      {Currency::Parse("1,5"), "2", "2"}, {"1.234", "1234", "1234"}, {" 12- ", "-12", "-12"},
      {32767.5, "#6", "32768"}, {-32768.5, "-32768", "-32768"}, {2147483647.5, "#6", "#6"},
      {DateTime::Date(1900, 1, 1), "2", "2"},  // the host's date serial
      {"abc", "#13", "#13"}, {kNull, "#94", "#94"},
      // clang-format on
  };
  for (const auto& [v, as_integer, as_long] : cases) {
    EXPECT_EQ(Outcome([&] { return std::to_string(v.ToInteger()); }), as_integer) << Shown(v);
    EXPECT_EQ(Outcome([&] { return std::to_string(v.ToLong()); }), as_long) << Shown(v);
  }
}

// Catches an off-by-one field count, a trailing separator that drops the last
// (empty) field, and 16-bit positions that do not overflow.
TEST(TextRoutines, Campo) {
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
TEST(TextRoutines, ValorNumerico) {
  const std::tuple<Value, double, const char*> cases[] = {
      // clang-format off
      {"1.234,56", 1234.56, "1234.56"}, {"1.234,56-", -1234.56, "1234.56"},
      {"20-30", -2030, "2030"}, {"12-", -12, "12"}, {"-7,0", -7, "-7,0"},
      {"R$ 10,50", 10.5, "10.50"}, {"1.234", 1.234, "1.234"}, {"2,5,7", 2.5, "2.5,7"},
      {"abc12", 12, "12"}, {"--", 0, ""}, {kNull, 0, "#94"},
      // clang-format on
  };
  for (const auto& [in, number, left] : cases) {
    Value text = in;
    EXPECT_DOUBLE_EQ(ValorNumerico(text), number) << left;
    EXPECT_EQ(Shown(text), left);
  }
}

// Catches a single pass (pairs formed by a removal survive), an endless
// replacement, a variable retyped when nothing was replaced, and a quote
// left single inside a literal (O'Brien must stay one literal).
TEST(TextRoutines, SubstituiAndAspas) {
  Value nested("aabb"), untouched(int32_t{7}), endless("a-");
  EXPECT_EQ(Substitui(nested, "ab", ""), "");
  EXPECT_EQ(Shown(nested), "");
  EXPECT_EQ(Substitui(untouched, "-", ""), "7");
  EXPECT_EQ(untouched.GetType(), Value::Type::Long);
  EXPECT_EQ(Outcome([&] { return Substitui(endless, "-", "--"); }), "#5");
  EXPECT_EQ(Aspas("O'Brien''") + Aspas(kNull) + Aspas(Value()), "'O''Brien'''''''''");
  EXPECT_EQ(PontoDecimal("1,2,3") + PontoDecimal(int32_t{7}), "1.2,37");
}

// Cuts count characters: bytes of a single-byte text, whole UTF-8 sequences
// of a UTF8 connection's (a broken byte counts one). Catches a cut inside a
// character, a count of bytes taken for characters, and a broken byte kept
// in a text the connection must store.
TEST(TextRoutines, CutsKeepWholeCharacters) {
  const std::string texto = "Ł\xC3\xA3o\xFF✓x";  // Ł, ã, o, a broken byte, ✓, x
  for (const bool utf8 : {false, true}) {
    DefineTextosUtf8(utf8);
    EXPECT_EQ(Primeiros(texto, 3), utf8 ? "Ł\xC3\xA3o" : "Ł\xC3");
    EXPECT_EQ(Caracteres(texto), utf8 ? 6u : texto.size());
    EXPECT_EQ(ValidoNaConexao(texto), utf8 ? "Ł\xC3\xA3o?✓x" : texto);
  }
  DefineTextosUtf8(false);
}

}  // namespace
}  // namespace kz

#include "common/currency.h"

#include <cmath>
#include <optional>
#include <string>

#include "common/decimal_text.h"
#include "common/runtime_error.h"

namespace kz {
namespace {

int64_t FitOrOverflow(__int128 v) {
  if (v > INT64_MAX || v < INT64_MIN) Raise(err::kOverflow);
  return static_cast<int64_t>(v);
}

int64_t FitOrOverflow(std::optional<int64_t> v) {
  if (!v) Raise(err::kOverflow);
  return *v;
}

// n ÷ d rounded half to even. REQUIRES: d != 0.
__int128 DivideHalfEven(__int128 n, __int128 d) {
  __int128 q = n / d;
  __int128 r = n % d;
  if (r == 0) return q;
  __int128 twice_r = r < 0 ? -2 * r : 2 * r;
  __int128 abs_d = d < 0 ? -d : d;
  bool away = twice_r > abs_d || (twice_r == abs_d && (q & 1) != 0);
  if (!away) return q;
  return (n < 0) != (d < 0) ? q - 1 : q + 1;
}

}  // namespace

Currency Currency::FromScaled(int64_t unscaled, int scale) {
  Decimal d;
  d.negative = unscaled < 0;
  uint64_t magnitude = d.negative ? 0 - static_cast<uint64_t>(unscaled) : unscaled;
  d.digits = std::to_string(magnitude);
  d.exponent = -scale;
  return Currency(FitOrOverflow(DecimalToTenThousandths(d)));
}

Currency Currency::FromInt(int64_t whole) {
  return Currency(FitOrOverflow(static_cast<__int128>(whole) * kScale));
}

Currency Currency::FromDouble(double value) {
  // Rounding the shortest decimal digits of the double (not its binary
  // expansion) makes 2.00005 a tie, as the number is written.
  if (!std::isfinite(value)) Raise(err::kOverflow);
  return Currency(FitOrOverflow(DecimalToTenThousandths(DecimalFromDouble(value))));
}

Currency Currency::Parse(std::string_view text) {
  Decimal d;
  size_t i = 0;
  if (i < text.size() && text[i] == '-') {
    d.negative = true;
    ++i;
  }
  bool separator = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c >= '0' && c <= '9') {
      d.digits += c;
      if (separator) --d.exponent;
    } else if ((c == '.' || c == ',') && !separator) {
      separator = true;
    } else {
      Raise(err::kTypeMismatch);
    }
  }
  if (d.digits.empty()) Raise(err::kTypeMismatch);
  return Currency(FitOrOverflow(DecimalToTenThousandths(d)));
}

double Currency::ToDouble() const { return static_cast<double>(raw_) / kScale; }

std::string Currency::Display() const {
  uint64_t magnitude = raw_ < 0 ? 0 - static_cast<uint64_t>(raw_) : raw_;
  std::string text = raw_ < 0 ? "-" : "";
  text += std::to_string(magnitude / kScale);
  uint64_t fraction = magnitude % kScale;
  if (fraction != 0) {
    std::string digits = std::to_string(fraction + kScale).substr(1);  // four digits
    digits.erase(digits.find_last_not_of('0') + 1);
    text += ',';
    text += digits;
  }
  return text;
}

Currency Currency::MenosPorcento(Currency a, int64_t p_unscaled, int p_scale) {
  if (p_scale < 0 || p_scale > 18) Raise(err::kOverflow);
  __int128 escala = 1;
  for (int i = 0; i < p_scale; ++i) escala *= 10;
  const __int128 cem = 100 * escala;
  __int128 produto = 0;
  if (__builtin_mul_overflow(static_cast<__int128>(a.raw_), cem - p_unscaled, &produto)) {
    Raise(err::kOverflow);
  }
  return Currency(FitOrOverflow(DivideHalfEven(produto, cem)));
}

Currency operator+(Currency a, Currency b) {
  return Currency(FitOrOverflow(static_cast<__int128>(a.raw_) + b.raw_));
}

Currency operator-(Currency a, Currency b) {
  return Currency(FitOrOverflow(static_cast<__int128>(a.raw_) - b.raw_));
}

Currency operator-(Currency a) { return Currency(FitOrOverflow(-static_cast<__int128>(a.raw_))); }

}  // namespace kz

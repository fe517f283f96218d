#include "common/decimal_text.h"

#include <charconv>
#include <cstdint>
#include <string>

#include "common/runtime_error.h"

namespace kz {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exponents are saturated here; anything this large is out of every range.
constexpr int64_t kExponentCap = 1'000'000'000;

void AppendExponentDigit(int64_t* e, char c) {
  if (*e < kExponentCap) *e = *e * 10 + (c - '0');
}

std::string_view StripLeadingZeros(const std::string& digits) {
  std::string_view d = digits;
  while (!d.empty() && d.front() == '0') d.remove_prefix(1);
  return d;
}

}  // namespace

Decimal DecimalFromDouble(double value) {
  // Scientific form with no precision gives the shortest round-trip digits:
  // "-1.2345e+02".
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  (void)ec;
  std::string_view text(buf, end - buf);
  Decimal d;
  size_t i = 0;
  if (text[i] == '-') {
    d.negative = true;
    ++i;
  }
  for (; i < text.size() && text[i] != 'e'; ++i) {
    if (IsDigit(text[i])) d.digits += text[i];
  }
  int exp10 = 0;
  std::from_chars(text.data() + i + (text[i + 1] == '+' ? 2 : 1), text.data() + text.size(), exp10);
  d.exponent = exp10 - static_cast<int64_t>(d.digits.size()) + 1;
  return d;
}

double DecimalToDouble(const Decimal& d) {
  std::string_view digits = StripLeadingZeros(d.digits);
  double zero = d.negative ? -0.0 : 0.0;
  if (digits.empty()) return zero;
  // The value is 0.digits × 10^magnitude.
  int64_t magnitude = d.exponent + static_cast<int64_t>(digits.size());
  if (magnitude > 310) Raise(err::kOverflow);
  if (magnitude < -330) return zero;
  std::string text = d.negative ? "-" : "";
  text += digits;
  text += 'e';
  text += std::to_string(d.exponent);
  double out = 0;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  (void)ptr;
  if (ec == std::errc::result_out_of_range) {
    if (magnitude > 0) Raise(err::kOverflow);
    return zero;
  }
  return out;
}

std::optional<int64_t> DecimalToTenThousandths(const Decimal& d) {
  std::string_view digits = StripLeadingZeros(d.digits);
  if (digits.empty()) return 0;
  const int64_t len = static_cast<int64_t>(digits.size());
  const int64_t shift = d.exponent + 4;  // value × 10^4 = digits × 10^shift
  unsigned __int128 m = 0;
  if (shift >= 0) {
    if (len + shift > 19) return std::nullopt;
    for (char c : digits) m = m * 10 + static_cast<unsigned>(c - '0');
    for (int64_t k = 0; k < shift; ++k) m *= 10;
  } else {
    const int64_t kept = len + shift;  // digits left of the rounding point
    if (kept > 19) return std::nullopt;
    for (int64_t k = 0; k < kept; ++k) m = m * 10 + static_cast<unsigned>(digits[k] - '0');
    // Below a tenth of a unit (kept < 0) the value always rounds to zero.
    if (kept >= 0) {
      char first = digits[kept];
      bool rest = digits.find_first_not_of('0', kept + 1) != std::string_view::npos;
      if (first > '5' || (first == '5' && (rest || (m & 1) != 0))) ++m;
    }
  }
  const unsigned __int128 limit = static_cast<unsigned __int128>(INT64_MAX) + (d.negative ? 1 : 0);
  if (m > limit) return std::nullopt;
  if (!d.negative) return static_cast<int64_t>(m);
  return static_cast<int64_t>(0 - static_cast<uint64_t>(m));
}

std::optional<Decimal> ParseLocaleNumber(std::string_view text) {
  const size_t n = text.size();
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  };
  auto take_symbol = [&] {
    if (text.substr(i, 2) != "R$") return false;
    i += 2;
    skip_blanks();
    return true;
  };
  auto take_sign = [&](char* sign) {
    if (i >= n || (text[i] != '+' && text[i] != '-')) return;
    *sign = text[i++];
    skip_blanks();
  };

  skip_blanks();
  bool symbol = take_symbol();
  char sign = 0;
  take_sign(&sign);
  if (!symbol) symbol = take_symbol();

  Decimal d;
  bool any_digit = false;
  while (i < n) {
    if (IsDigit(text[i])) {
      d.digits += text[i++];
      any_digit = true;
    } else if (text[i] == '.' && any_digit && IsDigit(text[i - 1]) && i + 1 < n &&
               IsDigit(text[i + 1])) {
      ++i;  // thousands point
    } else {
      break;
    }
  }
  if (i < n && text[i] == ',') {
    ++i;
    for (; i < n && IsDigit(text[i]); ++i) {
      d.digits += text[i];
      --d.exponent;
      any_digit = true;
    }
  }
  if (!any_digit) return std::nullopt;

  if (i < n && (text[i] == 'E' || text[i] == 'e')) {
    size_t j = i + 1;
    bool negative_exponent = false;
    if (j < n && (text[j] == '+' || text[j] == '-')) negative_exponent = text[j++] == '-';
    if (j >= n || !IsDigit(text[j])) return std::nullopt;
    int64_t e = 0;
    for (; j < n && IsDigit(text[j]); ++j) AppendExponentDigit(&e, text[j]);
    d.exponent += negative_exponent ? -e : e;
    i = j;
  }

  skip_blanks();
  if (sign == 0) take_sign(&sign);
  if (!symbol) take_symbol();
  if (i != n) return std::nullopt;
  d.negative = sign == '-';
  return d;
}

Decimal ParseLeadingNumber(std::string_view text) {
  const size_t n = text.size();
  size_t i = 0;
  auto skip = [&](size_t* k) {
    while (*k < n && (text[*k] == ' ' || text[*k] == '\t' || text[*k] == '\n')) ++*k;
  };

  Decimal d;
  skip(&i);
  if (i < n && (text[i] == '+' || text[i] == '-')) d.negative = text[i++] == '-';
  bool point = false;
  for (;; ++i) {
    skip(&i);
    if (i >= n) break;
    if (IsDigit(text[i])) {
      d.digits += text[i];
      if (point) --d.exponent;
    } else if (text[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (d.digits.empty()) return Decimal{};

  // An exponent counts only when at least one digit follows its letter.
  if (i < n && (text[i] == 'E' || text[i] == 'e' || text[i] == 'D' || text[i] == 'd')) {
    size_t j = i + 1;
    skip(&j);
    bool negative_exponent = false;
    if (j < n && (text[j] == '+' || text[j] == '-')) negative_exponent = text[j++] == '-';
    int64_t e = 0;
    bool any = false;
    for (;; ++j) {
      skip(&j);
      if (j >= n || !IsDigit(text[j])) break;
      AppendExponentDigit(&e, text[j]);
      any = true;
    }
    if (any) d.exponent += negative_exponent ? -e : e;
  }
  return d;
}

}  // namespace kz

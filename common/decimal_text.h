#pragma once

// Exact decimal numbers as they are read from text and written back: the one
// place that knows the fixed locale's number syntax and the bridges to double
// and to Currency's ten-thousandths. Used inside common/ only.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kz {

// ±digits × 10^exponent. `digits` holds only '0'..'9'; it may be empty (zero)
// or carry leading zeros.
struct Decimal {
  bool negative = false;
  std::string digits;
  int64_t exponent = 0;
};

// The shortest digits that read back as `value`. REQUIRES: value is finite.
Decimal DecimalFromDouble(double value);

// The nearest double. A magnitude beyond the double range raises 6; one below
// it gives zero.
double DecimalToDouble(const Decimal& d);

// The value × 10^4 rounded once, half to even; empty when the result does not
// fit in a signed 64-bit integer.
std::optional<int64_t> DecimalToTenThousandths(const Decimal& d);

// Reads the whole text as a number of the fixed locale: blanks and tabs
// around; an optional "R$"; a sign before or after; digits with "." between
// them as thousands points (their spacing is not checked); one "," as decimal
// separator; an optional exponent E[sign]digits. Empty when the text is
// anything else.
std::optional<Decimal> ParseLocaleNumber(std::string_view text);

// Reads the number that a text begins with: "." as the only decimal point, an
// optional sign, an optional exponent (E or D); blanks, tabs and line feeds
// are skipped wherever they stand; reading stops at the first other
// character. No number gives zero.
Decimal ParseLeadingNumber(std::string_view text);

}  // namespace kz

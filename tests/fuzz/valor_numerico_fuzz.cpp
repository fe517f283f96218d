// ValorNumerico. Two input forms:
//   "F", whole digits, fraction digits, flags: a number written the way the
//   settings and stored texts write it (flags: R "R$ " before it, G thousands
//   points, < a dash before it, > a dash after it); non-digits are dropped;
//   otherwise: the first line is the value (fuzz_values.h).
//
// Properties:
// - a written number reads back as the nearest double of its digits, negative
//   when a dash stands before or after it;
// - for any value: Null gives 0 and stays Null; the result is a finite number,
//   never a negative zero; a text without a digit gives 0; only 6 (a number
//   beyond the double range) is raised.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/runtime_error.h"
#include "common/text_routines.h"
#include "common/value.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_values.h"

namespace kz::fuzz {
namespace {

std::string Digits(const std::string& line, size_t most) {
  std::string out;
  for (char c : line) {
    if (c >= '0' && c <= '9' && out.size() < most) out += c;
  }
  return out;
}

// "1234567" -> "1.234.567"
std::string Grouped(const std::string& whole) {
  std::string out;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out += '.';
    out += whole[i];
  }
  return out;
}

void CheckWritten(const std::vector<std::string>& lines) {
  std::string whole = Digits(LineAt(lines, 1), 12);
  if (whole.empty()) whole = "0";
  const std::string fraction = Digits(LineAt(lines, 2), 6);
  const std::string& flags = LineAt(lines, 3);
  const auto has = [&](char f) { return flags.find(f) != std::string::npos; };
  // Without a comma a point is the decimal point and "R$ 5" reads as 0 (the
  // host's own reading), so those two only come with a fraction.
  const bool with_fraction = !fraction.empty();
  std::string text = has('<') ? "-" : "";
  if (with_fraction && has('R')) text += "R$ ";
  text += with_fraction && has('G') ? Grouped(whole) : whole;
  if (with_fraction) text += "," + fraction;
  const bool negative = has('<') || has('>');
  if (has('>') && !has('<')) text += "-";

  const std::string plain = whole + "." + (with_fraction ? fraction : "0");
  const double magnitude = std::strtod(plain.c_str(), nullptr);
  const double expected = negative ? -magnitude : magnitude;
  Value texto(text);
  double actual = 0;
  try {
    actual = ValorNumerico(texto);
  } catch (const RuntimeError& e) {
    Fail(__FILE__, __LINE__, "a written number reads",
         Shown(text) + " raised #" + std::to_string(e.Number()));
  }
  KZ_FUZZ_CHECK(actual == expected, Shown(text) + " gave " + std::to_string(actual) +
                                        ", expected " + std::to_string(expected));
}

void CheckAny(const std::vector<std::string>& lines) {
  Value texto = ValueFromLine(lines[0]);
  const bool was_null = texto.IsNull();
  const std::string text = was_null ? std::string() : texto.DisplayText();
  double n = 0;
  try {
    n = ValorNumerico(texto);
  } catch (const RuntimeError& e) {
    KZ_FUZZ_CHECK(e.Number() == 6, Shown(text) + " raised #" + std::to_string(e.Number()));
    return;
  }
  const std::string detail = Shown(text) + " gave " + std::to_string(n);
  KZ_FUZZ_CHECK(std::isfinite(n), detail);
  KZ_FUZZ_CHECK(!(n == 0 && std::signbit(n)), detail + " (negative zero)");
  if (was_null) KZ_FUZZ_CHECK(n == 0 && texto.IsNull(), detail);
  if (text.find_first_of("0123456789") == std::string::npos) KZ_FUZZ_CHECK(n == 0, detail);
}

}  // namespace
}  // namespace kz::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines = kz::fuzz::Lines(data, size);
  if (lines[0] == "F") {
    kz::fuzz::CheckWritten(lines);
  } else {
    kz::fuzz::CheckAny(lines);
  }
  return 0;
}

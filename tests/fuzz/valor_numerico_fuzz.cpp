// ValorNumerico. Input: a value (fuzz.h), or "F" then the whole digits, the
// fraction digits and flags of a number written as the settings and stored
// texts write it (R "R$ " before it, G thousands points, < a dash before it, >
// a dash after it); other characters of the digit lines are dropped.
//
// Properties: a written number reads back as the nearest double of its digits,
// negative with a dash; any value gives a finite number (never -0), 0 when its
// text has no digit or it is Null, and raises only 6 (beyond the double range).

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/runtime_error.h"
#include "common/text_routines.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 10000) return 0;
  const std::vector<std::string> l = kz::fuzz::Lines(data, size, 4);
  if (l[0] == "F") {
    const auto digits = [](std::string s, size_t most) {
      std::erase_if(s, [](char c) { return c < '0' || c > '9'; });
      return s.substr(0, most);
    };
    const std::string fraction = digits(l[2], 6);
    std::string whole = digits(l[1], 12);
    if (whole.empty()) whole = "0";
    std::string grouped = whole;
    for (size_t i = whole.size(); i > 3; i -= 3) grouped.insert(i - 3, ".");
    const auto has = [&](char flag) { return l[3].find(flag) != std::string::npos; };
    // Without a comma a point is the decimal point and "R$ 5" reads as 0 (as
    // the host reads them), so R and G come only with a fraction.
    const bool comma = !fraction.empty();
    std::string text = std::string(has('<') ? "-" : "") + (comma && has('R') ? "R$ " : "") +
                       (comma && has('G') ? grouped : whole) + (comma ? "," + fraction : "") +
                       (has('>') && !has('<') ? "-" : "");
    const double magnitude = std::strtod((whole + "." + fraction).c_str(), nullptr);
    kz::Value texto(text);
    KZ_CHECK(kz::ValorNumerico(texto) == (has('<') || has('>') ? -magnitude : magnitude), text);
    return 0;
  }
  kz::Value texto = kz::fuzz::ValueFrom(l[0]);
  const std::string text = texto.IsNull() ? "" : texto.DisplayText();
  try {
    const double n = kz::ValorNumerico(texto);
    KZ_CHECK(std::isfinite(n) && !(n == 0 && std::signbit(n)), text);
    KZ_CHECK(n == 0 || text.find_first_of("0123456789") != std::string::npos, text);
  } catch (const kz::RuntimeError& e) {
    if (e.Number() != 6) throw;
  }
  return 0;
}

// ValorNumerico, which reads the run's mark from the settings. Input: a value
// (fuzz.h).
//
// Properties: any value gives a finite number (never -0), 0 when its text
// has no digit or it is Null, and raises only 6 (beyond the double range).

#include <cmath>
#include <string>

#include "common/runtime_error.h"
#include "common/text_routines.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 10000) return 0;
  kz::Value texto = kz::fuzz::ValueFrom(kz::fuzz::Lines(data, size)[0]);
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

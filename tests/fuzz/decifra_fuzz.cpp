// Decifra and Cifra. Input: any bytes, not split into lines (a line of the
// settings file may hold any byte but a line end).
//
// Properties: up to 257 bytes Cifra and Decifra undo each other, both ways;
// past 257 bytes Decifra keeps the unscrambling of the first 257.

#include <string>
#include <string_view>

#include "app/decifra.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 32767) return 0;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::string x(all.substr(0, 257));
  KZ_CHECK(kz::Decifra(kz::Cifra(x)) == x, x);
  KZ_CHECK(kz::Cifra(kz::Decifra(x)) == x, x);
  KZ_CHECK(kz::Decifra(all).starts_with(kz::Decifra(x)), all);
  return 0;
}

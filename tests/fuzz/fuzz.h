#pragma once

// Shared by the fuzz targets. An input is lines separated by "\n". A failed
// check prints the property and aborts, as does an exception a target lets
// through: libFuzzer reports either and keeps the input. The length limits
// (positions past 32767, the 5000-character tail) are left to the unit tests.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "common/currency.h"
#include "common/value.h"

namespace kz::fuzz {

// The lines of an input, at least `count` of them (missing ones are empty).
inline std::vector<std::string> Lines(const uint8_t* data, size_t size, size_t count = 1) {
  std::vector<std::string> out;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string line; std::getline(in, line);) out.push_back(std::move(line));
  if (out.size() < count) out.resize(count);
  return out;
}

// A value from a line whose first character names the type: N Null, E Empty,
// S 16-bit, L 32-bit, C Currency (raw ten-thousandths), D Double, X exact
// Double ("unscaled scale"), V verbatim text, T text; otherwise the whole line
// as a text.
inline Value ValueFrom(const std::string& line) {
  const std::string rest = line.empty() ? line : line.substr(1);
  char* end = nullptr;
  const long long n = std::strtoll(rest.c_str(), &end, 10);
  const double d = std::strtod(rest.c_str(), nullptr);
  const char type = line.empty() ? 'T' : line[0];
  if (type == 'N') return Value::Null();
  if (type == 'E') return Value();
  if (type == 'S') return Value(static_cast<int16_t>(n));
  if (type == 'L') return Value(static_cast<int32_t>(n));
  if (type == 'C') return Value(Currency::FromRaw(n));
  if (type == 'D') return Value(std::isfinite(d) ? d : 0.0);  // as the database yields
  if (type == 'X')
    return Value::ExactDouble(n, static_cast<int>(std::strtoull(end, nullptr, 10) % 19));
  if (type == 'V') return Value::Verbatim(rest);
  return type == 'T' ? Value(rest) : Value(line);
}

}  // namespace kz::fuzz

#define KZ_CHECK(ok, detail)                                                              \
  do {                                                                                    \
    if (!(ok)) {                                                                          \
      std::fprintf(stderr, "%s:%d: property failed: %s\n  %s\n", __FILE__, __LINE__, #ok, \
                   std::string(detail).c_str());                                          \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

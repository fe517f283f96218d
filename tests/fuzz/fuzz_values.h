#pragma once

// Database values for the fuzz targets, read from one input line: the first
// character names the type, the rest gives the value.
//   N Null   E Empty   S 16-bit   L 32-bit   C Currency (raw ten-thousandths)
//   D Double (C-locale text)   X exact Double ("unscaled scale")
//   A date ("year month day hour minute second", brought into the range of
//     valid dates: years 100 to 9999)
//   V verbatim text   T text   anything else: the whole line as a text

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/currency.h"
#include "common/date_time.h"
#include "common/value.h"
#include "tests/fuzz/fuzz_support.h"

namespace kz::fuzz {

// The numbers of a line, separated by blanks.
inline std::vector<int64_t> Numbers(std::string_view text, size_t count) {
  std::vector<int64_t> out;
  while (out.size() < count) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    out.push_back(ChoiceNumber(text));
    size_t blank = text.find(' ');
    text = blank == std::string_view::npos ? std::string_view() : text.substr(blank);
  }
  return out;
}

inline int InRange(int64_t n, int lo, int hi) {
  uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
  return lo + static_cast<int>(static_cast<uint64_t>(n) % span);
}

inline Value ValueFromLine(const std::string& line) {
  if (line.empty()) return Value(line);
  const std::string rest = line.substr(1);
  switch (line.front()) {
    case 'N':
      return Value::Null();
    case 'E':
      return Value();
    case 'S':
      return Value(static_cast<int16_t>(ChoiceNumber(rest)));
    case 'L':
      return Value(static_cast<int32_t>(ChoiceNumber(rest)));
    case 'C':
      return Value(Currency::FromRaw(ChoiceNumber(rest)));
    case 'D': {
      // The database never yields an infinite or NaN double.
      double d = std::strtod(rest.c_str(), nullptr);
      return Value(std::isfinite(d) ? d : 0.0);
    }
    case 'X': {
      std::vector<int64_t> n = Numbers(rest, 2);
      return Value::ExactDouble(n[0], InRange(n[1], 0, 18));
    }
    case 'A': {
      std::vector<int64_t> n = Numbers(rest, 6);
      DateTime dt{InRange(n[0], 100, 9999), InRange(n[1], 1, 12), InRange(n[2], 1, 31),
                  InRange(n[3], 0, 23),     InRange(n[4], 0, 59), InRange(n[5], 0, 59)};
      while (!DateTime::IsValidDate(dt.year, dt.month, dt.day)) --dt.day;
      return Value(dt);
    }
    case 'V':
      return Value::Verbatim(rest);
    case 'T':
      return Value(rest);
    default:
      return Value(line);
  }
}

}  // namespace kz::fuzz

// ConvertRunLine and TextToLong, the conversions of the run's settings line.
// Two input forms:
//   "R", then day month year, the status, the three whole numbers (one per
//   line) and flags: a settings line written from those fields (flags: p
//   writes day and month with two digits, y the year with two, b puts blanks
//   around the numbers, + a plus sign before those not negative, f a zero
//   fraction after the first of the range);
//   otherwise: the first line is a settings line as read from the file.
//
// Properties:
// - a line written from valid fields converts back to exactly those fields;
// - TextToLong of any text agrees with reading the text as a decimal number
//   (comma as the mark) rounded half to even, raises 13 for what is no such
//   number and 6 beyond 32 bits;
// - ConvertRunLine of any line raises only 13 or 6, and a date it yields is
//   a valid date.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "common/date_time.h"
#include "common/runtime_error.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_values.h"
#include "tests/unit/outcome.h"

namespace kz::fuzz {
namespace {

bool AllDigits(std::string_view s) { return s.find_first_not_of("0123456789") == s.npos; }

// What TextToLong should give, read independently: through strtod and
// nearbyint while the digits are few enough for a double to hold them
// exactly; empty when they are not.
std::optional<std::string> ExpectedLong(std::string_view t) {
  while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
  while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
  bool negative = false;
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  const size_t comma = t.find(',');
  std::string_view whole = t.substr(0, comma);
  std::string_view fraction = comma == t.npos ? std::string_view() : t.substr(comma + 1);
  if ((whole.empty() && fraction.empty()) || !AllDigits(whole) || !AllDigits(fraction)) {
    return "#13";
  }
  while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
  while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
  constexpr size_t kExactDigits = 15;
  if (whole.size() + fraction.size() > kExactDigits) return std::nullopt;
  const std::string plain = "0" + std::string(whole) + "." + std::string(fraction) + "0";
  double v = std::nearbyint(std::strtod(plain.c_str(), nullptr));
  if (negative) v = -v;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
    return "#6";
  }
  return std::to_string(static_cast<int32_t>(v));
}

void CheckTextToLong(const std::string& text) {
  const std::string actual = Outcome([&] { return std::to_string(TextToLong(text)); });
  const std::optional<std::string> expected = ExpectedLong(text);
  if (expected) {
    KZ_FUZZ_CHECK(actual == *expected,
                  Shown(text) + " gave " + Shown(actual) + ", expected " + Shown(*expected));
  } else {
    KZ_FUZZ_CHECK(actual.front() != '#' || actual == "#6", Shown(text) + " gave " + Shown(actual));
  }
}

void CheckAnyLine(const std::string& line) {
  CheckTextToLong(line);
  try {
    const RunSettings run = ConvertRunLine(line);
    const DateTime& d = run.DataCanc;
    KZ_FUZZ_CHECK(DateTime::IsValidDate(d.year, d.month, d.day), Shown(line));
  } catch (const RuntimeError& e) {
    KZ_FUZZ_CHECK(e.Number() == 13 || e.Number() == 6,
                  Shown(line) + " raised #" + std::to_string(e.Number()));
  }
}

std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

void CheckWrittenLine(const std::vector<std::string>& lines) {
  const std::vector<int64_t> dmy = Numbers(LineAt(lines, 1), 3);
  const std::string& flags = LineAt(lines, 6);
  const auto has = [&](char f) { return flags.find(f) != std::string::npos; };
  // A two-digit year names 1930 to 2029.
  const int year = has('y') ? InRange(dmy[2], 1930, 2029) : InRange(dmy[2], 1000, 9999);
  const int month = InRange(dmy[1], 1, 12);
  int day = InRange(dmy[0], 1, 31);
  while (!DateTime::IsValidDate(year, month, day)) --day;
  const int32_t mark = static_cast<int32_t>(ChoiceNumber(LineAt(lines, 2)));
  int32_t numbers[3];
  for (int i = 0; i < 3; ++i) numbers[i] = static_cast<int32_t>(ChoiceNumber(LineAt(lines, 3 + i)));

  const std::string blank = has('b') ? " \t " : "";
  const auto number = [&](int32_t n, bool fraction) {
    return blank + (n >= 0 && has('+') ? "+" : "") + std::to_string(n) + (fraction ? ",0" : "") +
           blank;
  };
  std::string line =
      has('p') ? Two(day) + "/" + Two(month) : std::to_string(day) + "/" + std::to_string(month);
  line += "/" + (has('y') ? Two(year % 100) : std::to_string(year));
  line += "|" + std::to_string(mark) + "|" + number(numbers[0], has('f')) + "|" +
          number(numbers[1], false) + "|" + number(numbers[2], false);

  RunSettings run;
  try {
    run = ConvertRunLine(line);
  } catch (const RuntimeError& e) {
    Fail(__FILE__, __LINE__, "a written line converts",
         Shown(line) + " raised #" + std::to_string(e.Number()));
  }
  KZ_FUZZ_CHECK(run.DataCanc == DateTime::Date(year, month, day), Shown(line));
  KZ_FUZZ_CHECK(run.StaEpnCanc == mark, Shown(line) + " status " + std::to_string(run.StaEpnCanc));
  KZ_FUZZ_CHECK(run.EpnDe == numbers[0] && run.EpnAte == numbers[1] && run.CodUsuario == numbers[2],
                Shown(line));
}

}  // namespace
}  // namespace kz::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines = kz::fuzz::Lines(data, size);
  if (lines[0] == "R") {
    kz::fuzz::CheckWrittenLine(lines);
  } else {
    kz::fuzz::CheckAnyLine(lines[0]);
  }
  return 0;
}

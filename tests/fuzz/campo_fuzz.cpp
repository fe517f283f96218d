// Campo. Two input forms:
//   "J", a separator character, then the fields, one per line: the fields are
//   joined with the separator (any separator inside a field is dropped);
//   otherwise: n, the separator, then the text as a value (fuzz_values.h).
//
// Properties:
// - joined fields come back: field n for 1 <= n <= count, "" for any other n;
//   a separator at or past position 32767 that the walk reaches raises 6;
// - for any text and separator: the field is a piece of the text holding no
//   separator; n < 1 and Null give ""; only 6 is raised, and only for a text
//   that reaches position 32767.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/runtime_error.h"
#include "common/text_routines.h"
#include "common/value.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_values.h"
#include "tests/unit/outcome.h"

namespace kz::fuzz {
namespace {

constexpr size_t kMaxPosition = 32767;

void CheckJoined(const std::vector<std::string>& lines) {
  const std::string& sep_line = LineAt(lines, 1);
  const char sep = sep_line.empty() ? '|' : sep_line.front();
  std::vector<std::string> fields;
  std::string joined;
  std::vector<size_t> ends;  // where the separator after each field stands
  for (size_t i = 2; i < lines.size() || fields.empty(); ++i) {
    std::string field;
    for (char c : LineAt(lines, i)) {
      if (c != sep) field += c;
    }
    if (!fields.empty()) joined += sep;
    joined += field;
    ends.push_back(joined.size());
    fields.push_back(std::move(field));
  }
  const Value texto(joined);
  const int16_t count = static_cast<int16_t>(fields.size());
  for (int n = -1; n <= count + 1 && n <= INT16_MAX; ++n) {
    std::string expected;
    if (n >= 1 && !joined.empty()) {
      const size_t last = static_cast<size_t>(std::min<int>(n, count)) - 1;
      if (ends[last] + 1 > kMaxPosition) {
        expected = "#6";
      } else if (n <= count) {
        expected = fields[last];
      }
    }
    const std::string actual =
        Outcome([&] { return Campo(texto, std::string(1, sep), static_cast<int16_t>(n)); });
    KZ_FUZZ_CHECK(actual == expected, "field " + std::to_string(n) + " of " + Shown(joined) +
                                          " by " + Shown(std::string(1, sep)) + " gave " +
                                          Shown(actual) + ", expected " + Shown(expected));
  }
}

void CheckAny(const std::vector<std::string>& lines) {
  const int16_t n = static_cast<int16_t>(ChoiceNumber(LineAt(lines, 0)));
  const std::string& sep = LineAt(lines, 1);
  const Value texto = ValueFromLine(LineAt(lines, 2));
  const std::string text = texto.IsNull() ? std::string() : texto.DisplayText();
  const std::string detail =
      "field " + std::to_string(n) + " of " + Shown(text) + " by " + Shown(sep);
  std::string field;
  try {
    field = Campo(texto, sep, n);
  } catch (const RuntimeError& e) {
    KZ_FUZZ_CHECK(e.Number() == 6 && text.size() + sep.size() >= kMaxPosition,
                  detail + " raised #" + std::to_string(e.Number()));
    return;
  }
  KZ_FUZZ_CHECK(text.find(field) != std::string::npos, detail + " gave " + Shown(field));
  KZ_FUZZ_CHECK(sep.empty() || field.find(sep) == std::string::npos,
                detail + " gave " + Shown(field));
  if (n < 1 || texto.IsNull()) KZ_FUZZ_CHECK(field.empty(), detail + " gave " + Shown(field));
}

}  // namespace
}  // namespace kz::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines = kz::fuzz::Lines(data, size);
  if (lines[0] == "J") {
    kz::fuzz::CheckJoined(lines);
  } else {
    kz::fuzz::CheckAny(lines);
  }
  return 0;
}

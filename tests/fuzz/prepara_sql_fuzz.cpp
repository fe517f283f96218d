// PreparaSql and RenderValue. Input: the statement template, then one value
// per line (fuzz.h).
//
// Properties: the statement is the template with each "?" replaced, left to
// right, by the rendering of the next value, once: a "?" inside a rendering is
// never a marker, and too few values raise 9. A rendering that holds a quote
// is one literal reading back as the value's text, or the date literal of a
// text written as a date; a verbatim text is always such a literal.

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/date_time.h"
#include "data/prepara_sql.h"
#include "tests/fuzz/fuzz.h"
#include "tests/unit/outcome.h"

namespace {

std::string Literal(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? "''" : std::string(1, c);
  return out + "'";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kz;
  if (size >= 5000) return 0;  // keeps the whole template and every marker in reach
  const std::vector<std::string> lines = fuzz::Lines(data, size);
  const std::string& modelo = lines[0];
  std::vector<Value> valores;
  std::vector<std::string> renderings;
  for (size_t i = 1; i < lines.size() && i <= 16; ++i) {
    const Value& v = valores.emplace_back(fuzz::ValueFrom(lines[i]));
    const std::string& r = renderings.emplace_back(RenderValue(v));
    if (!v.IsVerbatim() && r.find('\'') == std::string::npos) continue;
    const std::string text = v.DisplayText();
    const std::optional<DateTime> date = DateTime::ParseDayFirst(text);
    KZ_CHECK(r == Literal(text) || (!v.IsVerbatim() && date && r == date->SqlLiteral()),
             text + " rendered " + r);
  }

  const size_t markers = std::count(modelo.begin(), modelo.end(), '?');
  std::string expected = markers > valores.size() ? "#9" : "";
  for (size_t from = 0, i = 0; markers <= valores.size(); ++i) {
    const size_t marker = modelo.find('?', from);
    expected += modelo.substr(from, marker - from);
    if (marker == std::string::npos) break;
    expected += renderings[i];
    from = marker + 1;
  }
  const std::string actual = Outcome([&] { return PreparaSql(modelo, valores); });
  KZ_CHECK(actual == expected, modelo + " gave " + actual + ", expected " + expected);
  return 0;
}

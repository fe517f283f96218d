// PreparaSql and RenderValue. Input: the statement template, written as the
// lines up to the first empty line put end to end (so that a repeated piece can
// stand between others), then one value per line (see fuzz_values.h).
//
// Properties:
// - the statement equals the template with its markers replaced left to right,
//   each by the rendering of the next value, exactly once: a "?" inside a
//   rendering is never taken for a marker and no template "?" is skipped; at
//   most 5000 template characters survive after each marker;
// - more markers than values raises 9, a marker past character 32767 raises
//   6, and nothing else is raised;
// - a rendering never leaves a quote open: a verbatim text is one literal
//   that reads back as the text; any other text is one literal reading back
//   as the text, a date literal of that date, a number written with a point,
//   or Null; other values carry no quote except as a date literal.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/date_time.h"
#include "common/runtime_error.h"
#include "common/value.h"
#include "data/prepara_sql.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/fuzz_values.h"
#include "tests/unit/outcome.h"

namespace kz::fuzz {
namespace {

constexpr size_t kMaxValues = 16;
constexpr size_t kTailLimit = 5000;
constexpr size_t kMaxPosition = 32767;

// The statement the markers should yield, walking the template once: markers
// are looked for in template text only, and each marker cuts what is left of
// the template to the next kTailLimit characters.
std::string Expected(std::string_view modelo, const std::vector<Value>& valores) {
  std::string out;
  size_t pos = 0;
  size_t end = modelo.size();
  size_t index = 0;
  for (;;) {
    size_t marker = modelo.find('?', pos);
    if (marker == std::string_view::npos || marker >= end) {
      out.append(modelo.substr(pos, end - pos));
      return out;
    }
    out.append(modelo.substr(pos, marker - pos));
    if (out.size() + 1 > kMaxPosition) Raise(err::kOverflow);
    if (index >= valores.size()) Raise(err::kSubscriptOutOfRange);
    out += RenderValue(valores[index++]);
    pos = marker + 1;
    end = std::min(end, pos + kTailLimit);
  }
}

// The text of a single SQL literal ('...' with inner quotes doubled).
std::optional<std::string> Unquote(std::string_view r) {
  if (r.size() < 2 || r.front() != '\'' || r.back() != '\'') return std::nullopt;
  std::string text;
  for (size_t i = 1; i + 1 < r.size(); ++i) {
    if (r[i] == '\'') {
      if (i + 2 >= r.size() || r[i + 1] != '\'') return std::nullopt;
      ++i;
    }
    text += r[i];
  }
  return text;
}

// 'mm/dd/yyyy'
bool IsDateLiteral(std::string_view r) {
  if (r.size() != 12 || r[0] != '\'' || r[11] != '\'' || r[3] != '/' || r[6] != '/') return false;
  for (size_t i : {1, 2, 4, 5, 7, 8, 9, 10}) {
    if (r[i] < '0' || r[i] > '9') return false;
  }
  return true;
}

bool IsPlainNumber(std::string_view r) {
  if (r.find_first_of("0123456789") == std::string_view::npos) return false;
  return r.find_first_not_of(" +-.0123456789") == std::string_view::npos;
}

void CheckRendering(const Value& v) {
  std::string r;
  try {
    r = RenderValue(v);
  } catch (const RuntimeError& e) {
    Fail(__FILE__, __LINE__, "RenderValue raises nothing", "raised #" + std::to_string(e.Number()));
  }
  if (v.IsNull()) {
    KZ_FUZZ_CHECK(r == "Null", Shown(r));
    return;
  }
  const std::string text = v.DisplayText();
  const std::string detail = "value " + Shown(text) + " rendered " + Shown(r);
  if (v.IsVerbatim()) {
    KZ_FUZZ_CHECK(Unquote(r) == text, detail);
    return;
  }
  if (v.GetType() != Value::Type::Text) {
    KZ_FUZZ_CHECK(r.find('\'') == std::string::npos || IsDateLiteral(r), detail);
    return;
  }
  if (Unquote(r) == text) return;
  if (IsDateLiteral(r)) {
    std::optional<DateTime> dt = DateTime::ParseDayFirst(text);
    KZ_FUZZ_CHECK(dt && dt->SqlLiteral() == r, detail);
    return;
  }
  if (r == "Null") {
    KZ_FUZZ_CHECK(text.size() == 4 && (text[0] | 0x20) == 'n' && (text[1] | 0x20) == 'u' &&
                      (text[2] | 0x20) == 'l' && (text[3] | 0x20) == 'l',
                  detail);
    return;
  }
  std::string pointed = text;
  if (size_t comma = pointed.find(','); comma != std::string::npos) pointed[comma] = '.';
  KZ_FUZZ_CHECK(IsPlainNumber(r) && r == pointed, detail);
}

}  // namespace
}  // namespace kz::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kz;
  using namespace kz::fuzz;
  std::vector<std::string> lines = Lines(data, size);
  std::string modelo;
  size_t i = 0;
  for (; i < lines.size() && !lines[i].empty(); ++i) modelo += lines[i];
  std::vector<Value> valores;
  for (++i; i < lines.size() && valores.size() < kMaxValues; ++i) {
    valores.push_back(ValueFromLine(lines[i]));
  }
  for (const Value& v : valores) CheckRendering(v);

  const std::string actual = Outcome([&] { return PreparaSql(modelo, valores); });
  const std::string expected = Outcome([&] { return Expected(modelo, valores); });
  KZ_FUZZ_CHECK(actual == expected, "template " + Shown(modelo) + " with " +
                                        std::to_string(valores.size()) + " values gave " +
                                        Shown(actual) + ", expected " + Shown(expected));
  return 0;
}

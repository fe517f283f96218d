#include "data/prepara_sql.h"

#include <algorithm>
#include <optional>
#include <string>

#include "common/caracteres.h"
#include "common/date_time.h"
#include "common/runtime_error.h"
#include "common/text_routines.h"

namespace kz {
namespace {

// Only the rest of the statement up to this many characters after a marker is
// kept when the marker is replaced (whole characters: a UTF-8 text is never
// cut inside one).
constexpr size_t kTailLimit = 5000;
// The marker position is 16-bit. The value index is too, but cannot overflow:
// after the first marker at most 5000 characters remain, so a statement has at
// most 5001 markers.
constexpr size_t kMaxPosition = 32767;

// Tested in this order; "#" is one digit. "##/##/##" is deliberately absent,
// so 10/10/10 stays a quoted text.
constexpr std::string_view kDatePatterns[] = {"##/##/####", "#/#/####", "##/#/####", "#/##/####",
                                              "#/#/##",     "##/#/##",  "#/##/##"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool MatchesWhole(std::string_view text, std::string_view pattern) {
  if (text.size() != pattern.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (pattern[i] == '#' ? !IsDigit(text[i]) : text[i] != pattern[i]) return false;
  }
  return true;
}

bool IsDatePattern(std::string_view text) {
  for (std::string_view p : kDatePatterns) {
    if (MatchesWhole(text, p)) return true;
  }
  return false;
}

// Blanks, an optional sign, digits, one comma, digits, blanks: "-12,5".
// Such a text always holds a digit, a comma and a digit in a row.
bool IsCommaDecimal(std::string_view s) {
  size_t i = 0;
  auto skip_blanks = [&] {
    while (i < s.size() && s[i] == ' ') ++i;
  };
  auto digits = [&] {
    size_t start = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    return i > start;
  };
  skip_blanks();
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  skip_blanks();
  if (!digits() || i >= s.size() || s[i] != ',') return false;
  ++i;
  if (!digits()) return false;
  skip_blanks();
  return i == s.size();
}

bool IsNullWord(std::string_view s) {
  static constexpr std::string_view kNull = "NULL";
  if (s.size() != kNull.size()) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    char upper = s[i] >= 'a' && s[i] <= 'z' ? static_cast<char>(s[i] - 'a' + 'A') : s[i];
    if (upper != kNull[i]) return false;
  }
  return true;
}

// Appends the rendering of `v` to `out`: the statement's own buffer, so that
// a value costs no text of its own beyond its display text.
void AppendValue(std::string& out, const Value& v) {
  if (v.IsNull()) {
    out += "Null";
    return;
  }
  const std::string display = v.DisplayText();
  if (v.IsVerbatim()) {
    AcrescentaAspas(out, display);
    return;
  }

  // A date written day first goes out as 'mm/dd/yyyy'. A text that has the
  // shape of a date but is none (31/02/2017, 99/99/9999) is not guessed at: it
  // falls through and goes out quoted as written, for the server to judge.
  if (IsDatePattern(display)) {
    if (std::optional<DateTime> dt = DateTime::ParseDayFirst(display)) {
      out += dt->SqlLiteral();
      return;
    }
  }

  if (IsNullWord(display)) {
    out += "Null";
    return;
  }

  // A comma-decimal number is written with a point, unquoted, whatever its
  // type. A Double so large or small that its text carries an exponent
  // ("1,5E+20") gets the same treatment, so that it stays one SQL number.
  if (IsCommaDecimal(display) ||
      (v.GetType() == Value::Type::Double && display.find('E') != std::string::npos)) {
    const size_t comma = display.find(',');
    out.append(display, 0, comma);
    if (comma != std::string::npos) {
      out += '.';
      out.append(display, comma + 1);
    }
    return;
  }
  if (v.GetType() == Value::Type::Text) {
    AcrescentaAspas(out, display);
  } else {
    out += display;
  }
}

}  // namespace

std::string RenderValue(const Value& v) {
  std::string out;
  AppendValue(out, v);
  return out;
}

std::string PreparaSql(std::string_view modelo, std::span<const Value> valores) {
  // One pass over the template. Renderings go straight to the output, so a "?"
  // inside a value is never seen as a marker. Each replaced marker keeps only
  // the next kTailLimit characters of the template after it; `end` is where
  // the template is cut.
  std::string text;
  text.reserve(modelo.size() + 16 * valores.size());
  size_t from = 0;
  size_t end = modelo.size();
  for (size_t i = 0;; ++i) {
    const size_t marker = modelo.substr(0, end).find('?', from);
    if (marker == std::string_view::npos) {
      text.append(modelo, from, end - from);
      return text;
    }
    text.append(modelo, from, marker - from);
    if (text.size() + 1 > kMaxPosition && Caracteres(text) + 1 > kMaxPosition) {
      Raise(err::kOverflow);
    }
    if (i >= valores.size()) Raise(err::kSubscriptOutOfRange);
    AppendValue(text, valores[i]);
    from = marker + 1;
    end = std::min(end, from + BytesDosPrimeiros(modelo.substr(from), kTailLimit));
  }
}

std::string PreparaSql(std::string_view modelo, std::initializer_list<Value> valores) {
  return PreparaSql(modelo, std::span<const Value>(valores.begin(), valores.size()));
}

}  // namespace kz

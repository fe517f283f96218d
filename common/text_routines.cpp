#include "common/text_routines.h"

#include <optional>
#include <string>

#include "common/decimal_text.h"
#include "common/runtime_error.h"

namespace kz {
namespace {

// Positions are 16-bit: a 1-based position past 32767 overflows.
constexpr size_t kMaxPosition = 32767;

void CheckPosition(size_t zero_based) {
  if (zero_based + 1 > kMaxPosition) Raise(err::kOverflow);
}

constexpr int32_t kInvalidProcedureCall = 5;

}  // namespace

std::string Campo(const Value& texto, std::string_view separador, int16_t n) {
  if (texto.IsNull()) return "";
  std::string text = texto.DisplayText();
  if (text.empty() || n < 1) return "";
  text += separador;
  size_t start = 0;
  for (int16_t field = 1;; ++field) {
    size_t found = text.find(separador, start);
    if (found == std::string::npos) return "";
    CheckPosition(found);
    if (field == n) return text.substr(start, found - start);
    start = found + separador.size();
  }
}

std::string Substitui(Value& texto, std::string_view procura, std::string_view troca) {
  if (texto.IsNull()) return "";
  std::string text = texto.DisplayText();
  if (procura.empty()) return text;
  // A replacement holding the searched text would be found again forever.
  if (troca.find(procura) != std::string_view::npos) {
    Raise(kInvalidProcedureCall, "Invalid procedure call or argument");
  }
  bool changed = false;
  // Each search starts again from the beginning of the new text.
  for (size_t found; (found = text.find(procura)) != std::string::npos;) {
    CheckPosition(found);
    text = text.substr(0, found) + std::string(troca) + text.substr(found + procura.size());
    changed = true;
  }
  if (changed) texto = Value(text);
  return text;
}

double ValorNumerico(Value& texto) {
  if (texto.IsNull()) return 0;
  std::string text = texto.DisplayText();

  double locale = 0;
  double leading = LeadingNumber(text);
  if (LocaleNumber(text, &locale) && locale == leading) return leading + 0.0;

  // A dash anywhere makes the number negative and is dropped.
  double sign = 1;
  if (text.find('-') != std::string::npos) {
    sign = -1;
    text = Substitui(texto, "-", "");
  }

  leading = LeadingNumber(text);
  if (text.find(',') == std::string::npos && (LocaleNumber(text, &locale) || leading != 0)) {
    return sign * leading + 0.0;
  }
  if (text.empty()) return 0;

  // Keep digits, turn the first comma into the decimal point and stop there;
  // everything else before it goes.
  std::string cleaned;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    CheckPosition(cleaned.size());  // the walk's place in the shrinking text
    char c = text[i];
    if (c >= '0' && c <= '9') {
      cleaned += c;
    } else if (c == ',') {
      cleaned += '.';
      ++i;
      break;
    }
  }
  cleaned.append(text, i);
  texto = Value(cleaned);
  return sign * LeadingNumber(cleaned) + 0.0;
}

void AcrescentaAspas(std::string& out, std::string_view texto) {
  out += '\'';
  for (size_t aspa; (aspa = texto.find('\'')) != std::string_view::npos;) {
    out.append(texto, 0, aspa + 1);  // up to the quote, which is doubled
    out += '\'';
    texto.remove_prefix(aspa + 1);
  }
  out.append(texto);
  out += '\'';
}

std::string Aspas(const Value& v) {
  if (v.IsNull()) return "''";
  const std::string text = v.DisplayText();
  std::string quoted;
  quoted.reserve(text.size() + 2);
  AcrescentaAspas(quoted, text);
  return quoted;
}

std::string PontoDecimal(const Value& v) {
  std::string text = v.ToText();
  size_t comma = text.find(',');
  if (comma != std::string::npos) text[comma] = '.';
  return text;
}

double LeadingNumber(std::string_view text) { return DecimalToDouble(ParseLeadingNumber(text)); }

bool LocaleNumber(std::string_view text, double* out) {
  std::optional<Decimal> d = ParseLocaleNumber(text);
  if (!d) return false;
  try {
    *out = DecimalToDouble(*d);
  } catch (const RuntimeError&) {
    return false;  // beyond the double range: not a number the host can hold
  }
  return true;
}

}  // namespace kz

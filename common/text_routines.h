#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/value.h"

namespace kz {

// The n-th field (from 1) of `texto` split by the one-character separator;
// empty when the text is empty or Null, n < 1, or there are fewer fields.
std::string Campo(const Value& texto, std::string_view separador, int16_t n);

// Reads a number written loosely as text ("1.234,56-", "R$ 10,50", "20-30").
// Null gives 0. `texto` is left as the routine left it: dashes removed and,
// when the digits had to be picked out, the cleaned text ("1234.56").
double ValorNumerico(Value& texto);

// Replaces every occurrence of the character `procura` by `troca`; the result
// is also left in `texto`. A `troca` holding `procura` raises 5.
std::string Substitui(Value& texto, std::string_view procura, std::string_view troca);

// The value's text between single quotes; an embedded quote is doubled, so
// the result is always one SQL literal. Null and Empty give ''.
std::string Aspas(const Value& v);
// Appends `texto` to `out` the same way, as one quoted literal.
void AcrescentaAspas(std::string& out, std::string_view texto);

// The value's text with its first comma written as a point. Null raises 94.
std::string PontoDecimal(const Value& v);

// The number that a text begins with ("." as decimal point, optional sign and
// exponent; blanks, tabs and line feeds skipped); 0 when there is none.
double LeadingNumber(std::string_view text);

// Whether the whole text reads as a number under the fixed locale (decimal
// comma, thousands points, a sign before or after); its value in `out`.
bool LocaleNumber(std::string_view text, double* out);

}  // namespace kz

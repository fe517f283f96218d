#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "common/value.h"

namespace kz {

// Renders the values into the "?" markers of `modelo`, left to right: dates as
// 'mm/dd/yyyy', decimal numbers with a point, texts quoted, Null bare. Runs
// nothing. More markers than values raises 9; a marker past character 32767
// raises 6.
std::string PreparaSql(std::string_view modelo, std::span<const Value> valores);
std::string PreparaSql(std::string_view modelo, std::initializer_list<Value> valores);

// The rendering of one value as PreparaSql puts it in place of a marker. A
// verbatim text (Value::Verbatim) is always one quoted literal.
std::string RenderValue(const Value& v);

}  // namespace kz

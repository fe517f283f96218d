#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "common/currency.h"
#include "common/date_time.h"

namespace kz {

// A dynamically typed database value, as a record-set field yields it.
// Conversions follow the host run time: numbers read from text use the fixed
// locale (decimal comma, thousands point), integer conversions round half to
// even, Null raises 94, a non-number text raises 13, out of range raises 6.
class Value {
 public:
  enum class Type { Empty, Null, Integer, Long, Currency, Double, Date, Text };

  Value() = default;  // Empty
  static Value Null() { return Value(NullTag{}); }
  Value(int16_t v) : v_(v) {}
  Value(int32_t v) : v_(v) {}
  Value(kz::Currency v) : v_(v) {}
  Value(double v) : v_(DoubleRep{v, 0, -1}) {}
  Value(const DateTime& v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}
  Value(std::string_view v) : v_(std::string(v)) {}
  Value(const char* v) : v_(std::string(v)) {}
  // A Double that came from an exact fixed-point database value
  // (unscaled × 10^-scale); conversion to Currency uses the exact digits.
  static Value ExactDouble(int64_t unscaled, int scale);
  // A text taken as it is stored (a name, a code, a cheque number): rendered
  // into SQL always as one quoted literal, never read as a date, a number or
  // the word Null, so that what goes back into the database is what was read.
  static Value Verbatim(std::string text);
  bool IsVerbatim() const { return verbatim_; }

  Type GetType() const;
  bool IsNull() const { return std::holds_alternative<NullTag>(v_); }
  bool IsEmpty() const { return std::holds_alternative<std::monostate>(v_); }
  bool IsNumeric() const;

  // The display text: numbers with a decimal comma and no grouping, dates
  // dd/mm/yyyy [hh:mm:ss], texts as they are, Empty as "". Null raises 94.
  std::string DisplayText() const;

  // A number as its exact decimal digits: unscaled × 10^-scale. Database
  // numbers keep the digits they were stored with; a Double without them
  // gives its shortest digits; a text is read as a locale number (13
  // otherwise). Null raises 94; more than 18 decimals or 18 digits raise 6.
  struct Exato {
    int64_t unscaled = 0;
    int scale = 0;
  };
  Exato ToExato() const;

  int16_t ToInteger() const;
  int32_t ToLong() const;
  kz::Currency ToCurrency() const;
  double ToDouble() const;
  std::string ToText() const;  // the display text; Null raises 94
  DateTime ToDate() const;     // texts are read day first; numbers raise 13

  // Equality as the host run time compares: Null is never equal; a number is
  // compared numerically (a text that is no number is not equal); a text is
  // compared as exact characters with the display text.
  bool Equals(int64_t number) const;
  bool Equals(std::string_view text) const;

 private:
  struct NullTag {};
  struct DoubleRep {
    double value;
    int64_t unscaled;
    int scale;  // -1: no exact digits
  };
  explicit Value(NullTag t) : v_(t) {}

  std::variant<std::monostate, NullTag, int16_t, int32_t, kz::Currency, DoubleRep, DateTime,
               std::string>
      v_;
  bool verbatim_ = false;
};

}  // namespace kz

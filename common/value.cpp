#include "common/value.h"

#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/decimal_text.h"
#include "common/runtime_error.h"

namespace kz {
namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The host's date serial: whole days since 30/12/1899, the time of day as the
// fraction. Before that day the fraction is counted away from zero, as the
// host stores it.
double DateSerial(const DateTime& dt) {
  static const int64_t kEpoch = DaysFromCivil(1899, 12, 30);
  int64_t days = DaysFromCivil(dt.year, dt.month, dt.day) - kEpoch;
  double fraction = (dt.hour * 3600 + dt.minute * 60 + dt.second) / 86400.0;
  return days < 0 ? days - fraction : days + fraction;
}

// Shortest round-trip digits with a decimal comma; plain positional form for
// magnitudes from 1E-15 up to (not including) 1E+15, exponent form beyond.
std::string DisplayDouble(double x) {
  if (std::isnan(x)) return "NaN";
  if (std::isinf(x)) return x < 0 ? "-Infinity" : "Infinity";
  if (x == 0) return "0";
  Decimal d = DecimalFromDouble(x);
  const std::string& digits = d.digits;
  const int64_t len = static_cast<int64_t>(digits.size());
  const int64_t sci = d.exponent + len - 1;  // x = ±d.ddd × 10^sci
  std::string out = d.negative ? "-" : "";
  if (sci >= -15 && sci < 15) {
    std::string whole;
    std::string fraction;
    if (sci >= 0) {
      whole = digits.substr(0, std::min(len, sci + 1));
      whole.append(std::max<int64_t>(0, sci + 1 - len), '0');
      if (len > sci + 1) fraction = digits.substr(sci + 1);
    } else {
      whole = "0";
      fraction = std::string(-sci - 1, '0') + digits;
    }
    out += whole;
    if (!fraction.empty()) out += ',' + fraction;
    return out;
  }
  out += digits[0];
  if (len > 1) out += ',' + digits.substr(1);
  out += sci < 0 ? "E-" : "E+";
  if (std::llabs(sci) < 10) out += '0';
  out += std::to_string(std::llabs(sci));
  return out;
}

Decimal TextNumberOrMismatch(const std::string& text) {
  std::optional<Decimal> d = ParseLocaleNumber(text);
  if (!d) Raise(err::kTypeMismatch);
  return *d;
}

// Whether ±digits × 10^exponent is exactly the whole number n.
bool DecimalEquals(const Decimal& d, int64_t n) {
  std::string_view digits = d.digits;
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  int64_t exponent = d.exponent;
  while (!digits.empty() && digits.back() == '0') {
    digits.remove_suffix(1);
    ++exponent;
  }
  if (digits.empty()) return n == 0;
  if (exponent < 0 || static_cast<int64_t>(digits.size()) + exponent > 19) return false;
  __int128 m = 0;
  for (char c : digits) m = m * 10 + (c - '0');
  for (int64_t k = 0; k < exponent; ++k) m *= 10;
  return (d.negative ? -m : m) == n;
}

// Rounds half to even into [lo, hi]; outside raises 6.
int64_t RoundedWhole(const Value& v, int64_t lo, int64_t hi) {
  int64_t whole = 0;
  switch (v.GetType()) {
    case Value::Type::Empty:
      return 0;
    case Value::Type::Null:
      Raise(err::kInvalidUseOfNull);
    case Value::Type::Integer:
    case Value::Type::Long:
      whole = v.ToLong();
      break;
    case Value::Type::Currency: {
      int64_t raw = v.ToCurrency().Raw();
      int64_t q = raw / Currency::kScale;
      int64_t r = raw % Currency::kScale;
      if (2 * std::llabs(r) > Currency::kScale ||
          (2 * std::llabs(r) == Currency::kScale && (q & 1) != 0)) {
        q += raw < 0 ? -1 : 1;
      }
      whole = q;
      break;
    }
    default: {
      // nearbyint rounds ties to even under the default rounding mode, which
      // this program never changes.
      double r = std::nearbyint(v.ToDouble());
      if (!(r >= static_cast<double>(lo) && r <= static_cast<double>(hi))) Raise(err::kOverflow);
      return static_cast<int64_t>(r);
    }
  }
  if (whole < lo || whole > hi) Raise(err::kOverflow);
  return whole;
}

}  // namespace

Value Value::Verbatim(std::string text) {
  Value v(std::move(text));
  v.verbatim_ = true;
  return v;
}

Value Value::ExactDouble(int64_t unscaled, int scale) {
  Decimal d;
  d.negative = unscaled < 0;
  d.digits = std::to_string(d.negative ? 0 - static_cast<uint64_t>(unscaled) : unscaled);
  d.exponent = -scale;
  Value v;
  v.v_ = DoubleRep{DecimalToDouble(d), unscaled, scale};
  return v;
}

Value::Type Value::GetType() const {
  static constexpr Type kByIndex[] = {Type::Empty,    Type::Null,   Type::Integer, Type::Long,
                                      Type::Currency, Type::Double, Type::Date,    Type::Text};
  return kByIndex[v_.index()];
}

// The host's numeric types; a text that reads as a number is not one here.
bool Value::IsNumeric() const {
  Type t = GetType();
  return t == Type::Integer || t == Type::Long || t == Type::Currency || t == Type::Double;
}

std::string Value::DisplayText() const {
  switch (GetType()) {
    case Type::Empty:
      return "";
    case Type::Null:
      Raise(err::kInvalidUseOfNull);
    case Type::Integer:
      return std::to_string(std::get<int16_t>(v_));
    case Type::Long:
      return std::to_string(std::get<int32_t>(v_));
    case Type::Currency:
      return std::get<kz::Currency>(v_).Display();
    case Type::Double:
      return DisplayDouble(std::get<DoubleRep>(v_).value);
    case Type::Date:
      return std::get<DateTime>(v_).Display();
    case Type::Text:
      return std::get<std::string>(v_);
  }
  return "";
}

int16_t Value::ToInteger() const {
  return static_cast<int16_t>(RoundedWhole(*this, INT16_MIN, INT16_MAX));
}

int32_t Value::ToLong() const {
  switch (GetType()) {
    case Type::Integer:
      return std::get<int16_t>(v_);
    case Type::Long:
      return std::get<int32_t>(v_);
    default:
      return static_cast<int32_t>(RoundedWhole(*this, INT32_MIN, INT32_MAX));
  }
}

namespace {

Value::Exato ExatoDe(const Decimal& d) {
  std::string digitos = d.digits;
  int64_t expoente = d.exponent;
  if (expoente > 0) {
    if (expoente > 18) Raise(err::kOverflow);
    digitos.append(static_cast<size_t>(expoente), '0');
    expoente = 0;
  }
  if (-expoente > 18) Raise(err::kOverflow);
  const size_t inicio = std::min(digitos.find_first_not_of('0'), digitos.size());
  if (digitos.size() - inicio > 18) Raise(err::kOverflow);
  int64_t n = 0;
  for (size_t i = inicio; i < digitos.size(); ++i) n = n * 10 + (digitos[i] - '0');
  return Value::Exato{d.negative ? -n : n, static_cast<int>(-expoente)};
}

}  // namespace

Value::Exato Value::ToExato() const {
  switch (GetType()) {
    case Type::Empty:
      return Exato{};
    case Type::Null:
      Raise(err::kInvalidUseOfNull);
    case Type::Integer:
    case Type::Long:
      return Exato{ToLong(), 0};
    case Type::Currency:
      return Exato{std::get<kz::Currency>(v_).Raw(), 4};
    case Type::Double: {
      const DoubleRep& d = std::get<DoubleRep>(v_);
      if (d.scale >= 0) return Exato{d.unscaled, d.scale};
      if (!std::isfinite(d.value)) Raise(err::kOverflow);
      return ExatoDe(DecimalFromDouble(d.value));
    }
    case Type::Date:
      Raise(err::kTypeMismatch);
    case Type::Text:
      return ExatoDe(TextNumberOrMismatch(std::get<std::string>(v_)));
  }
  return Exato{};
}

kz::Currency Value::ToCurrency() const {
  switch (GetType()) {
    case Type::Empty:
      return kz::Currency();
    case Type::Null:
      Raise(err::kInvalidUseOfNull);
    case Type::Integer:
    case Type::Long:
      return kz::Currency::FromInt(ToLong());
    case Type::Currency:
      return std::get<kz::Currency>(v_);
    case Type::Double: {
      const DoubleRep& d = std::get<DoubleRep>(v_);
      if (d.scale >= 0) return kz::Currency::FromScaled(d.unscaled, d.scale);
      return kz::Currency::FromDouble(d.value);
    }
    case Type::Date:
      return kz::Currency::FromDouble(DateSerial(std::get<DateTime>(v_)));
    case Type::Text: {
      std::optional<int64_t> raw =
          DecimalToTenThousandths(TextNumberOrMismatch(std::get<std::string>(v_)));
      if (!raw) Raise(err::kOverflow);
      return kz::Currency::FromRaw(*raw);
    }
  }
  return kz::Currency();
}

double Value::ToDouble() const {
  switch (GetType()) {
    case Type::Empty:
      return 0;
    case Type::Null:
      Raise(err::kInvalidUseOfNull);
    case Type::Integer:
      return std::get<int16_t>(v_);
    case Type::Long:
      return std::get<int32_t>(v_);
    case Type::Currency:
      return std::get<kz::Currency>(v_).ToDouble();
    case Type::Double:
      return std::get<DoubleRep>(v_).value;
    case Type::Date:
      return DateSerial(std::get<DateTime>(v_));
    case Type::Text:
      return DecimalToDouble(TextNumberOrMismatch(std::get<std::string>(v_)));
  }
  return 0;
}

std::string Value::ToText() const { return DisplayText(); }

DateTime Value::ToDate() const {
  switch (GetType()) {
    case Type::Empty:
      return DateTime{};
    case Type::Null:
      Raise(err::kInvalidUseOfNull);
    case Type::Date:
      return std::get<DateTime>(v_);
    case Type::Text: {
      std::optional<DateTime> dt = DateTime::ParseDayFirst(std::get<std::string>(v_));
      if (!dt) Raise(err::kTypeMismatch);
      return *dt;
    }
    default:
      Raise(err::kTypeMismatch);
  }
}

bool Value::Equals(int64_t number) const {
  switch (GetType()) {
    case Type::Empty:
      return number == 0;
    case Type::Null:
      return false;
    case Type::Integer:
    case Type::Long:
      return ToLong() == number;
    case Type::Currency:
      return std::get<kz::Currency>(v_).Raw() ==
             static_cast<__int128>(number) * kz::Currency::kScale;
    case Type::Double:
    case Type::Date: {
      // long double holds every int64 and every double exactly.
      double x = ToDouble();
      return static_cast<long double>(x) == static_cast<long double>(number);
    }
    case Type::Text: {
      std::optional<Decimal> d = ParseLocaleNumber(std::get<std::string>(v_));
      return d && DecimalEquals(*d, number);
    }
  }
  return false;
}

bool Value::Equals(std::string_view text) const { return !IsNull() && DisplayText() == text; }

}  // namespace kz

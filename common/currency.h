#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>

namespace kz {

// Money: a signed 64-bit count of ten-thousandths. Every conversion into it
// rounds a half to the even neighbour; results outside the range raise error 6.
class Currency {
 public:
  static constexpr int64_t kScale = 10000;

  constexpr Currency() = default;
  static constexpr Currency FromRaw(int64_t raw) { return Currency(raw); }
  // unscaled × 10^-scale, for scale 0..18 (a database fixed-point value).
  static Currency FromScaled(int64_t unscaled, int scale);
  static Currency FromInt(int64_t whole);
  // Rounds half to even at the fourth decimal; NaN and out of range raise 6.
  static Currency FromDouble(double value);
  // Exact parse of "[-]digits[(.|,)digits]"; a fifth decimal and beyond is
  // rounded half to even. Anything else raises 13.
  static Currency Parse(std::string_view text);

  constexpr int64_t Raw() const { return raw_; }
  double ToDouble() const;

  // Display text: decimal comma, no grouping, no separator when whole
  // ("150", "12,5", "-0,25").
  std::string Display() const;

  // a × (100 − p) ÷ 100, where p = p_unscaled × 10^-p_scale (scale 0..18)
  // is a percentage as the database holds it: computed exactly and rounded
  // once, half to even (error 6 when it does not fit).
  static Currency MenosPorcento(Currency a, int64_t p_unscaled, int p_scale);

  friend Currency operator+(Currency a, Currency b);
  friend Currency operator-(Currency a, Currency b);
  friend Currency operator-(Currency a);
  friend constexpr auto operator<=>(Currency a, Currency b) = default;

 private:
  constexpr explicit Currency(int64_t raw) : raw_(raw) {}
  int64_t raw_ = 0;
};

}  // namespace kz

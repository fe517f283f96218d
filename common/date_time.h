#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kz {

// A calendar date with an optional time of day (whole seconds).
struct DateTime {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  static DateTime Date(int y, int m, int d) { return DateTime{y, m, d, 0, 0, 0}; }
  // The local clock of this machine.
  static DateTime Now();
  // Reads a date written day first: d/m/yyyy, dd/mm/yyyy, d/m/yy (a two-digit
  // year below 30 is 20yy, otherwise 19yy), optionally followed by a blank and
  // h:mm[:ss]. Blanks around are ignored. Empty when the text is no valid date.
  static std::optional<DateTime> ParseDayFirst(std::string_view text);
  static bool IsValidDate(int y, int m, int d);

  bool HasTime() const { return hour != 0 || minute != 0 || second != 0; }

  std::string DdMmYyyy() const;        // 05/01/2017
  std::string MmDdYyyyHhMmSs() const;  // 01/05/2017 14:03:09
  std::string DdMmYyyyHhMmSs() const;  // 05/01/2017 14:03:09
  std::string DdMmYyyyDashed() const;  // 05-01-2017
  std::string MmYyyyDashed() const;    // 01-2017
  std::string SqlLiteral() const;      // '01/05/2017'
  // Display text: dd/mm/yyyy, followed by " hh:mm:ss" when a time is held.
  std::string Display() const;

  friend bool operator==(const DateTime&, const DateTime&) = default;
};

}  // namespace kz

#include "common/date_time.h"

#include <cstdio>
#include <ctime>

namespace kz {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1..max_len digits at *i; the number of digits read in *len.
bool ReadNumber(std::string_view text, size_t* i, size_t max_len, int* value, size_t* len) {
  size_t start = *i;
  *value = 0;
  while (*i < text.size() && IsDigit(text[*i]) && *i - start < max_len) {
    *value = *value * 10 + (text[*i] - '0');
    ++*i;
  }
  *len = *i - start;
  return *len > 0 && (*i >= text.size() || !IsDigit(text[*i]));
}

std::string Format(const char* pattern, int a, int b, int c, int d = 0, int e = 0, int f = 0) {
  char buf[48];
  int n = std::snprintf(buf, sizeof buf, pattern, a, b, c, d, e, f);
  return std::string(buf, n);
}

}  // namespace

DateTime DateTime::Now() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  return DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                  local.tm_hour,        local.tm_min,     local.tm_sec};
}

bool DateTime::IsValidDate(int y, int m, int d) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + (m == 2 && leap ? 1 : 0);
}

std::optional<DateTime> DateTime::ParseDayFirst(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);

  DateTime dt;
  size_t i = 0;
  size_t len = 0;
  if (!ReadNumber(text, &i, 2, &dt.day, &len)) return std::nullopt;
  if (i >= text.size() || text[i] != '/') return std::nullopt;
  ++i;
  if (!ReadNumber(text, &i, 2, &dt.month, &len)) return std::nullopt;
  if (i >= text.size() || text[i] != '/') return std::nullopt;
  ++i;
  if (!ReadNumber(text, &i, 4, &dt.year, &len) || len == 3) return std::nullopt;
  if (len <= 2) dt.year += dt.year < 30 ? 2000 : 1900;
  if (!IsValidDate(dt.year, dt.month, dt.day)) return std::nullopt;
  if (i == text.size()) return dt;

  if (text[i] != ' ') return std::nullopt;
  while (i < text.size() && text[i] == ' ') ++i;
  if (!ReadNumber(text, &i, 2, &dt.hour, &len)) return std::nullopt;
  if (i >= text.size() || text[i] != ':') return std::nullopt;
  ++i;
  if (!ReadNumber(text, &i, 2, &dt.minute, &len) || len != 2) return std::nullopt;
  if (i < text.size()) {
    if (text[i] != ':') return std::nullopt;
    ++i;
    if (!ReadNumber(text, &i, 2, &dt.second, &len) || len != 2) return std::nullopt;
  }
  if (i != text.size() || dt.hour > 23 || dt.minute > 59 || dt.second > 59) return std::nullopt;
  return dt;
}

std::string DateTime::DdMmYyyy() const { return Format("%02d/%02d/%04d", day, month, year); }

std::string DateTime::MmDdYyyyHhMmSs() const {
  return Format("%02d/%02d/%04d %02d:%02d:%02d", month, day, year, hour, minute, second);
}

std::string DateTime::DdMmYyyyHhMmSs() const {
  return Format("%02d/%02d/%04d %02d:%02d:%02d", day, month, year, hour, minute, second);
}

std::string DateTime::DdMmYyyyDashed() const { return Format("%02d-%02d-%04d", day, month, year); }

std::string DateTime::MmYyyyDashed() const { return Format("%02d-%04d", month, year, 0); }

std::string DateTime::SqlLiteral() const { return Format("'%02d/%02d/%04d'", month, day, year); }

std::string DateTime::Display() const { return HasTime() ? DdMmYyyyHhMmSs() : DdMmYyyy(); }

}  // namespace kz

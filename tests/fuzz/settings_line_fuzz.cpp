// ConvertRunLine, which reads the run's settings line. Input: a settings line,
// or "R" then "day month year", the status, the three whole numbers (one per
// line) and flags of a line written from those fields (p: day and month with
// two digits; y: the year with two; b: blanks around the numbers; +: a plus
// sign before those not negative; f: the numbers written with a fraction that
// rounds to them, half to even).
//
// Properties: a line written from valid fields converts back to exactly those
// fields; any line raises only 13 (no date or number) or 6 (beyond 32 bits).

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "app/settings.h"
#include "common/runtime_error.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kz;
  if (size > 10000) return 0;
  const std::vector<std::string> l = fuzz::Lines(data, size, 7);
  if (l[0] != "R") {
    try {
      ConvertRunLine(l[0]);
    } catch (const RuntimeError& e) {
      if (e.Number() != 13 && e.Number() != 6) throw;
    }
    return 0;
  }
  const auto has = [&](char flag) { return l[6].find(flag) != std::string::npos; };
  const auto in = [](long n, long lo, long hi) {
    return static_cast<int>(lo + std::labs(n % (hi - lo + 1)));
  };
  long d = 0, m = 0, y = 0;
  std::istringstream(l[1]) >> d >> m >> y;
  const int year = has('y') ? in(y, 1930, 2029) : in(y, 1000, 9999), month = in(m, 1, 12);
  int day = in(d, 1, 31);
  while (!DateTime::IsValidDate(year, month, day)) --day;
  int32_t n[4];
  for (int i = 0; i < 4; ++i)
    n[i] = static_cast<int32_t>(std::strtoll(l[2 + i].c_str(), nullptr, 10));

  const auto two = [](int k) { return std::string(k < 10 ? "0" : "") + std::to_string(k); };
  const std::string blank = has('b') ? " \t " : "";
  const auto number = [&](int32_t k) {
    const int64_t abs = std::llabs(k);
    const std::string sign = k < 0 ? "-" : (has('+') ? "+" : "");
    return blank + sign +
           (has('f') ? std::to_string(abs - abs % 2) + (abs % 2 ? ",51" : ",5")
                     : std::to_string(abs)) +
           blank;
  };
  const std::string line =
      (has('p') ? two(day) + "/" + two(month) : std::to_string(day) + "/" + std::to_string(month)) +
      "/" + (has('y') ? two(year % 100) : std::to_string(year)) + "|" + std::to_string(n[0]) + "|" +
      number(n[1]) + "|" + number(n[2]) + "|" + number(n[3]);
  const RunSettings run = ConvertRunLine(line);
  KZ_CHECK(run.DataCanc == DateTime::Date(year, month, day) && run.StaEpnCanc == n[0] &&
               run.EpnDe == n[1] && run.EpnAte == n[2] && run.CodUsuario == n[3],
           line);
  return 0;
}

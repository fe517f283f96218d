// ConvertRunLine, which reads the run's settings line (the mark through
// ValorNumerico, the other numbers through TextToLong). Input: the line.
//
// Properties: any line converts or raises only 13 (no date or number) or 6
// (beyond 32 bits); a line that converts converts again from the fields it
// gave, written back plainly.

#include <string>

#include "app/settings.h"
#include "common/runtime_error.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kz;
  if (size > 10000) return 0;
  RunSettings r;
  try {
    r = ConvertRunLine(fuzz::Lines(data, size)[0]);
  } catch (const RuntimeError& e) {
    if (e.Number() != 13 && e.Number() != 6) throw;
    return 0;
  }
  const std::string again = r.DataCanc.DdMmYyyy() + "|" + std::to_string(r.StaEpnCanc) + "|" +
                            std::to_string(r.EpnDe) + "|" + std::to_string(r.EpnAte) + "|" +
                            std::to_string(r.CodUsuario);
  const RunSettings s = ConvertRunLine(again);
  KZ_CHECK(s.DataCanc == r.DataCanc && s.StaEpnCanc == r.StaEpnCanc && s.EpnDe == r.EpnDe &&
               s.EpnAte == r.EpnAte && s.CodUsuario == r.CodUsuario,
           again);
  return 0;
}

// Decifra and Cifra. Input: any bytes (a line of the settings file may hold
// any byte but a line end, so the input is not split into lines); a first
// line "<count>*<text>" is expanded to reach the length limits.
//
// Properties:
// - up to 257 bytes, Cifra and Decifra undo each other, both ways, and keep
//   the length;
// - Cifra refuses more than 257 bytes with 5;
// - past 257 bytes Decifra keeps the unscrambling of the first 257 and drops
//   only bytes; more than 32767 bytes raise 6 and nothing else is raised.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/decifra.h"
#include "common/runtime_error.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/unit/outcome.h"

namespace kz::fuzz {
namespace {

constexpr size_t kWholeLength = 257;
constexpr size_t kMaxLength = 32767;

void Check(const std::string& x) {
  const std::string detail = Shown(x);
  if (x.size() <= kWholeLength) {
    const std::string scrambled = Cifra(x);
    KZ_FUZZ_CHECK(scrambled.size() == x.size(), detail);
    KZ_FUZZ_CHECK(Decifra(scrambled) == x, detail + " scrambled as " + Shown(scrambled));
    const std::string plain = Decifra(x);
    KZ_FUZZ_CHECK(plain.size() == x.size(), detail + " gave " + Shown(plain));
    KZ_FUZZ_CHECK(Cifra(plain) == x, detail + " gave " + Shown(plain));
    return;
  }
  KZ_FUZZ_CHECK(Outcome([&] { return Cifra(x); }) == "#5", detail);
  if (x.size() > kMaxLength) {
    KZ_FUZZ_CHECK(Outcome([&] { return Decifra(x); }) == "#6", detail);
    return;
  }
  const std::string plain = Decifra(x);
  const std::string head = Decifra(std::string_view(x).substr(0, kWholeLength));
  KZ_FUZZ_CHECK(plain.size() <= x.size() && plain.compare(0, head.size(), head) == 0,
                detail + " gave " + Shown(plain));
}

}  // namespace
}  // namespace kz::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  std::string x(all);
  if (kz::fuzz::IsRepetition(all)) {
    // The first line is expanded; the bytes after its line end follow as they are.
    const size_t end = all.find('\n');
    x = kz::fuzz::ExpandLine(all.substr(0, end));
    if (end != std::string_view::npos) x += all.substr(end + 1);
  }
  kz::fuzz::Check(x);
  return 0;
}

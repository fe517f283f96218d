#include "app/decifra.h"

#include <array>
#include <cstdint>

#include "common/runtime_error.h"

namespace kz {

namespace {

// "Invalid procedure call or argument" of the host run time.
constexpr int32_t kInvalidProcedureCall = 5;

// Positions are counted in 16-bit signed integers.
constexpr size_t kMaxLength = 32767;

// Every input byte is unscrambled whole up to this position: 257 + 255 = 512.
constexpr size_t kWholeLength = 257;

// The doubled code table has positions 1 to 512.
constexpr int kTableEnd = 512;

// The 256 codes in the order the scrambling uses them: 31 down to 0, 255 down
// to 127, 126 down to 32. Entry j holds (31 - j) mod 256.
constexpr std::array<unsigned char, 256> MakeTable() {
  std::array<unsigned char, 256> table{};
  size_t j = 0;
  for (int code = 31; code >= 0; --code) table[j++] = static_cast<unsigned char>(code);
  for (int code = 255; code >= 127; --code) table[j++] = static_cast<unsigned char>(code);
  for (int code = 126; code >= 32; --code) table[j++] = static_cast<unsigned char>(code);
  return table;
}

constexpr std::array<unsigned char, 256> kTable = MakeTable();

// The character at 1-based position p (1..512) of the table written twice.
char DoubledTableAt(int p) { return static_cast<char>(kTable[static_cast<size_t>(p - 1) % 256]); }

}  // namespace

std::string Decifra(std::string_view linha) {
  if (linha.size() > kMaxLength) Raise(err::kOverflow);
  std::string out;
  out.reserve(linha.size());
  for (size_t k = 0; k < linha.size(); ++k) {
    const int i = static_cast<int>(k) + 1;
    const int c = static_cast<unsigned char>(linha[k]);
    // Past the end of the doubled table a position adds nothing.
    if (i + c <= kTableEnd) out.push_back(DoubledTableAt(i + c));
  }
  return out;
}

std::string Cifra(std::string_view texto) {
  if (texto.size() > kWholeLength) {
    Raise(kInvalidProcedureCall,
          "Invalid procedure call or argument: a text to scramble may hold at most 257 bytes, "
          "this one holds " +
              std::to_string(texto.size()));
  }
  // Decifra turns code c at position i into (32 - i - c) mod 256, so the code
  // that yields o is (32 - i - o) mod 256; i + c <= 257 + 255 keeps it inside
  // the doubled table.
  std::string out;
  out.reserve(texto.size());
  for (size_t k = 0; k < texto.size(); ++k) {
    const int i = static_cast<int>(k) + 1;
    const int o = static_cast<unsigned char>(texto[k]);
    out.push_back(static_cast<char>(static_cast<unsigned char>((32 - i - o) & 0xFF)));
  }
  return out;
}

}  // namespace kz

#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/date_time.h"

namespace kz {

// The settings directory: $KZ_QUBO_DIR when set, otherwise /etc/kz-qubo/.
std::filesystem::path SettingsDirectory();

// What default.txt holds (lines 2 to 4, the last two unscrambled).
struct DefaultSettings {
  std::string StrConexao;
  std::string UsuarioBD;
  std::string SenhaBD;
};

// The five fields of the run's settings line, converted.
struct RunSettings {
  DateTime DataCanc;
  int32_t StaEpnCanc = 0;
  int32_t EpnDe = 0;
  int32_t EpnAte = 0;
  int32_t CodUsuario = 0;
};

// Reads the first `count` lines of a file; lines end in CR LF or LF and only
// the line end is stripped. A missing file raises 53, too few lines 62.
std::vector<std::string> ReadLines(const std::filesystem::path& file, int count);

// Reads default.txt of `dir`; warns the operator (standard error) when the
// file may be read by other users, and goes on.
DefaultSettings ReadDefault(const std::filesystem::path& dir);
// That warning for `file`: empty when only its owner may read it (mode
// 0600), or when it cannot be checked.
std::string AvisoLeitura(const std::filesystem::path& file);
// Reads the first line of Tarvelinko.txt of `dir`.
std::string ReadRunLine(const std::filesystem::path& dir);
// Converts the five fields of a settings line (errors 13 and 6 as the host
// run time raises them).
RunSettings ConvertRunLine(const std::string& linha);

// A number of seconds from the environment variable `nome`: 0 when unset or
// empty; 1 to 86400 otherwise, anything else raises 13 naming the variable.
int SegundosDoAmbiente(const char* nome);

// Text to 32-bit whole number: decimal digits with an optional sign and
// surrounding blanks, a fraction rounded half to even. 13 when it is no
// number, 6 outside the range.
int32_t TextToLong(const std::string& text);

}  // namespace kz

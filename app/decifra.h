#pragma once

#include <string>
#include <string_view>

namespace kz {

// Undoes the scrambling of the database user name and password of the
// settings file. Works on bytes; the output depends on position and byte.
std::string Decifra(std::string_view linha);

// The inverse of Decifra for inputs of up to 257 bytes (which Decifra always
// unscrambles whole): what an installer writes into the settings file.
std::string Cifra(std::string_view texto);

}  // namespace kz

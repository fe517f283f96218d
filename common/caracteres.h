#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kz {

// How the run's texts are encoded: one byte a character (WIN1252, NONE and
// the other single-byte character sets), or UTF-8 when the connection's
// character set is UTF8 (or UNICODE_FSS). Set once the connection is open;
// every cut the program makes to a text counts characters in this encoding,
// so that no cut splits a character.
void DefineTextosUtf8(bool utf8);
bool TextosUtf8();

// The number of bytes that the first `n` characters of `texto` take (all of
// it when it has fewer).
size_t BytesDosPrimeiros(std::string_view texto, size_t n);
// The same for a text known to be UTF-8, whatever the mode.
size_t BytesDosPrimeirosUtf8(std::string_view texto, size_t n);
// The first `n` characters of `texto`.
std::string Primeiros(std::string_view texto, size_t n);
// The number of characters of `texto`.
size_t Caracteres(std::string_view texto);
// `texto` with every byte that does not belong to a well-formed UTF-8
// character replaced by "?" (only in UTF-8 mode; otherwise unchanged): a
// description gathered from several sources must still be a text the
// connection can store.
std::string ValidoNaConexao(std::string texto);

}  // namespace kz

#pragma once

#include <cstdint>
#include <string>

namespace kz {

// The text of a Firebird error status, lines joined by "\n-" as the client
// library formats it, with two differences:
// - a parameter of the status (a name, an exception's message, a file name)
//   that holds `senha` (6 characters or more) as a whole word is shown as
//   "***" in full. The library's own message texts never hold a password and
//   are never touched, and a shorter password is not looked for (any word
//   may hold it by chance), so no text tells where the password stood or
//   what it looks like;
// - a code the client library has no text for (sent by a newer server) is
//   written with its number, its symbolic name when known, and its
//   parameters, instead of "unknown ISC error".
std::string TextoDoStatus(const intptr_t* erros, const std::string& senha);

}  // namespace kz

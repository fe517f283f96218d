#include "app/escolhe_conexao.h"

#include <cstdint>
#include <string_view>

#include "common/runtime_error.h"

namespace kz {

namespace {

// Upper case for the keyword searches. The keywords are ASCII, and no other
// byte of a single-byte code page upper-cases into an ASCII letter, so ASCII
// upper-casing finds exactly what a locale-aware one would, at the same
// positions.
std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& ch : out) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return out;
}

bool Contains(const std::string& text, std::string_view keyword) {
  return text.find(keyword) != std::string::npos;
}

// Positions in the connection text are 16-bit; one past that range overflows.
int16_t Position(size_t one_based) {
  if (one_based > static_cast<size_t>(INT16_MAX)) Raise(err::kOverflow);
  return static_cast<int16_t>(one_based);
}

// The database location: from just after `keyword` (found in the upper-cased
// text) up to the first ";" after it in the text, or to the end. Without the
// keyword the location starts at the 1-based character keyword.size(), the
// place it would start if the keyword stood at position 0.
std::string Location(const std::string& text, std::string_view keyword) {
  const size_t found = Upper(text).find(keyword);
  const size_t keyword_at = found == std::string::npos ? 0 : found + 1;
  const int16_t start = Position(keyword_at + keyword.size());
  if (static_cast<size_t>(start) > text.size()) return std::string();
  const size_t semicolon = text.find(';', static_cast<size_t>(start) - 1);
  if (semicolon == std::string::npos) return text.substr(static_cast<size_t>(start) - 1);
  const int16_t end = Position(semicolon + 1);
  return text.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(end - start));
}

}  // namespace

void EscolheConexao(std::string& StrConexao, const std::string& UsuarioBD,
                    const std::string& SenhaBD) {
  const std::string odbc =
      "DRIVER=Firebird/InterBase(r) driver;UID=" + UsuarioBD + ";PWD=" + SenhaBD + ";DBNAME=";
  const std::string ole_db =
      "Provider=ZStyle IBOLE Provider;User=" + UsuarioBD + ";Password=" + SenhaBD + ";Data Source=";

  // Both tests run in turn; the second looks at the text as the first left it.
  std::string upper = Upper(StrConexao);
  if (Contains(upper, "TIPO=1") || Contains(upper, "ZSTYLE")) {
    StrConexao = ole_db + Location(StrConexao, "DATA SOURCE=");
  }
  upper = Upper(StrConexao);
  if (Contains(upper, "TIPO=2") || Contains(upper, "INTERBASE")) {
    StrConexao = odbc + Location(StrConexao, "DBNAME=");
  }
}

}  // namespace kz

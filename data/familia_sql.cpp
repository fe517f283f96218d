#include "data/familia_sql.h"

#include <cctype>
#include <vector>

namespace kz {
namespace {

bool Separa(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == ','; }

std::string Maiusculas(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string FamiliaSql(std::string_view sql) {
  // The first words, enough to reach the object's name.
  std::vector<std::string> palavras;
  size_t i = 0;
  while (i < sql.size() && palavras.size() < 64) {
    while (i < sql.size() && Separa(sql[i])) ++i;
    const size_t inicio = i;
    while (i < sql.size() && !Separa(sql[i])) ++i;
    if (i > inicio) palavras.push_back(Maiusculas(sql.substr(inicio, i - inicio)));
  }
  if (palavras.empty()) return "";
  const std::string& verbo = palavras[0];
  auto depois = [&](const char* marca, const std::string& prefixo) -> std::string {
    for (size_t k = 1; k + 1 < palavras.size(); ++k) {
      if (palavras[k] == marca) return prefixo + palavras[k + 1];
    }
    return verbo;
  };
  if (verbo == "SELECT") return depois("FROM", "SELECT FROM ");
  if (verbo == "DELETE") return depois("FROM", "DELETE FROM ");
  if (verbo == "INSERT") return depois("INTO", "INSERT INTO ");
  if (verbo == "EXECUTE" && palavras.size() > 1 && palavras[1] == "BLOCK") return "EXECUTE BLOCK";
  if (verbo == "EXECUTE") return depois("PROCEDURE", "EXECUTE PROCEDURE ");
  if (verbo == "UPDATE" && palavras.size() > 1) return "UPDATE " + palavras[1];
  return verbo;
}

}  // namespace kz

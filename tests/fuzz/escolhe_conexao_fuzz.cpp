// EscolheConexao. Input: a connection text, the user and the password, one
// per line.
//
// Properties: nothing is raised below 32767 characters; a text it completes
// becomes the full text of one provider with the user and password as given,
// and completing it again changes nothing (unless its location holds a
// keyword of the short forms).

#include <string>
#include <vector>

#include "app/escolhe_conexao.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 10000) return 0;
  std::vector<std::string> l = kz::fuzz::Lines(data, size, 3);
  const std::string before = l[0];
  kz::EscolheConexao(l[0], l[1], l[2]);
  if (l[0] == before) return 0;
  const std::string odbc =
      "DRIVER=Firebird/InterBase(r) driver;UID=" + l[1] + ";PWD=" + l[2] + ";DBNAME=";
  const std::string ole_db =
      "Provider=ZStyle IBOLE Provider;User=" + l[1] + ";Password=" + l[2] + ";Data Source=";
  const size_t prefix = l[0].starts_with(odbc) ? odbc.size() : ole_db.size();
  KZ_CHECK(l[0].starts_with(odbc) || l[0].starts_with(ole_db), before + " gave " + l[0]);
  for (std::string part : {l[0].substr(prefix), l[1], l[2]}) {
    for (char& c : part) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    for (const char* k : {"TIPO=1", "TIPO=2", "ZSTYLE", "INTERBASE", "DBNAME=", "DATA SOURCE="}) {
      if (part.find(k) != std::string::npos) return 0;  // a keyword of the short forms
    }
  }
  const std::string once = l[0];
  kz::EscolheConexao(l[0], l[1], l[2]);
  KZ_CHECK(l[0] == once, once + " completed again gave " + l[0]);
  return 0;
}

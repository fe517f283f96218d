// EscolheConexao. Input: a short form ("A" TIPO=2;DBNAME=, "B" INTERBASE;DBNAME=,
// "C" TIPO=1;DATA SOURCE=, "D" ZSTYLE;DATA SOURCE=), the location, user,
// password, flags (l: the keywords in lower case; ";": ";" and the rest follow
// the location) and the rest, one per line. Any other first line is a
// connection text, completed with the next two lines as user and password.
//
// Property: the short form becomes the full text of its provider with the
// user, password and location as written, and completing it again changes
// nothing. Nothing is raised below 32767 characters.

#include <cctype>
#include <string>
#include <vector>

#include "app/escolhe_conexao.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 10000) return 0;
  std::vector<std::string> l = kz::fuzz::Lines(data, size, 6);
  const auto recase = [](std::string s, bool lower) {
    for (char& c : s) {
      const unsigned char u = static_cast<unsigned char>(c);
      c = static_cast<char>(lower ? std::tolower(u) : std::toupper(u));
    }
    return s;
  };
  if (l[0].size() != 1 || l[0][0] < 'A' || l[0][0] > 'D') {
    kz::EscolheConexao(l[0], l[1], l[2]);
    return 0;
  }
  std::erase(l[1], ';');
  const std::string &location = l[1], &user = l[2], &password = l[3], &flags = l[4];
  for (int i = 1; i < 6; ++i) {  // a keyword in a part would make another text
    for (const char* k : {"TIPO=1", "TIPO=2", "ZSTYLE", "INTERBASE", "DBNAME=", "DATA SOURCE="}) {
      if (recase(l[i], false).find(k) != std::string::npos) return 0;
    }
  }
  const int form = l[0][0] - 'A';
  const char* kForms[] = {
      "TIPO=2;DBNAME=", "INTERBASE;DBNAME=", "TIPO=1;DATA SOURCE=", "ZSTYLE;DATA SOURCE="};
  std::string text = recase(kForms[form], flags.find('l') != std::string::npos);
  text += location + (flags.find(';') == std::string::npos ? "" : ";" + l[5]);
  const std::string odbc =
      "DRIVER=Firebird/InterBase(r) driver;UID=" + user + ";PWD=" + password + ";DBNAME=";
  const std::string ole_db =
      "Provider=ZStyle IBOLE Provider;User=" + user + ";Password=" + password + ";Data Source=";
  const std::string expected = (form < 2 ? odbc : ole_db) + location;
  std::string actual = text;
  kz::EscolheConexao(actual, user, password);
  KZ_CHECK(actual == expected, text + " gave " + actual);
  kz::EscolheConexao(actual, user, password);
  KZ_CHECK(actual == expected, expected + " completed again gave " + actual);
  return 0;
}

// EscolheConexao. Two input forms:
//   "A" to "D", location, user, password, flags, rest: one of the short forms
//   of the settings ("TIPO=2;DBNAME=", "INTERBASE;DBNAME=", "TIPO=1;DATA
//   SOURCE=", "ZSTYLE;DATA SOURCE=") followed by the location; flags: l writes
//   the keywords in lower case, ; appends ";" and the rest;
//   otherwise: connection text, user, password, one per line.
//
// Properties:
// - a short form becomes the full text of its provider with the user, the
//   password and the location as written, and completing it again changes
//   nothing;
// - any text without a short-form keyword is left alone; any other becomes
//   one of the two full texts whose location holds no ";"; only 6 is raised,
//   and only for texts that reach position 32767.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/escolhe_conexao.h"
#include "common/runtime_error.h"
#include "tests/fuzz/fuzz_support.h"

namespace kz::fuzz {
namespace {

constexpr size_t kMaxPosition = 32767;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool HasKeyword(std::string_view text) {
  const std::string upper = Upper(text);
  for (std::string_view k :
       {"TIPO=1", "TIPO=2", "ZSTYLE", "INTERBASE", "DBNAME=", "DATA SOURCE="}) {
    if (upper.find(k) != std::string::npos) return true;
  }
  return false;
}

std::string Odbc(const std::string& user, const std::string& password) {
  return "DRIVER=Firebird/InterBase(r) driver;UID=" + user + ";PWD=" + password + ";DBNAME=";
}

std::string OleDb(const std::string& user, const std::string& password) {
  return "Provider=ZStyle IBOLE Provider;User=" + user + ";Password=" + password + ";Data Source=";
}

void CheckShortForm(const std::vector<std::string>& lines) {
  const char form = lines[0][0];
  std::string location;
  for (char c : LineAt(lines, 1)) {
    if (c != ';') location += c;
  }
  const std::string& user = LineAt(lines, 2);
  const std::string& password = LineAt(lines, 3);
  const std::string& flags = LineAt(lines, 4);
  const std::string& rest = LineAt(lines, 5);
  // A keyword in a part would be another text than the short form intends.
  if (HasKeyword(location) || HasKeyword(user) || HasKeyword(password) || HasKeyword(rest)) return;

  static constexpr std::string_view kForms[] = {
      "TIPO=2;DBNAME=", "INTERBASE;DBNAME=", "TIPO=1;DATA SOURCE=", "ZSTYLE;DATA SOURCE="};
  std::string_view keywords = kForms[form - 'A'];
  std::string text = flags.find('l') != std::string::npos ? Lower(keywords) : std::string(keywords);
  text += location;
  if (flags.find(';') != std::string::npos) text += ";" + rest;
  const std::string expected =
      (form <= 'B' ? Odbc(user, password) : OleDb(user, password)) + location;
  if (expected.size() + text.size() >= kMaxPosition) return;

  std::string actual = text;
  EscolheConexao(actual, user, password);
  KZ_FUZZ_CHECK(actual == expected, Shown(text) + " gave " + Shown(actual));
  std::string again = actual;
  EscolheConexao(again, user, password);
  KZ_FUZZ_CHECK(again == actual, Shown(actual) + " completed again gave " + Shown(again));
}

void CheckAny(const std::vector<std::string>& lines) {
  const std::string& text = lines[0];
  const std::string& user = LineAt(lines, 1);
  const std::string& password = LineAt(lines, 2);
  const std::string detail = Shown(text) + " user " + Shown(user) + " password " + Shown(password);
  std::string actual = text;
  try {
    EscolheConexao(actual, user, password);
  } catch (const RuntimeError& e) {
    const size_t longest = text.size() + OleDb(user, password).size();
    KZ_FUZZ_CHECK(e.Number() == 6 && longest >= kMaxPosition,
                  detail + " raised #" + std::to_string(e.Number()));
    return;
  }
  const std::string upper = Upper(text);
  const bool short_form =
      upper.find("TIPO=1") != std::string::npos || upper.find("TIPO=2") != std::string::npos ||
      upper.find("ZSTYLE") != std::string::npos || upper.find("INTERBASE") != std::string::npos;
  if (!short_form) {
    KZ_FUZZ_CHECK(actual == text, detail + " gave " + Shown(actual));
    return;
  }
  for (const std::string& prefix : {Odbc(user, password), OleDb(user, password)}) {
    if (actual.compare(0, prefix.size(), prefix) == 0 &&
        actual.find(';', prefix.size()) == std::string::npos) {
      return;
    }
  }
  Fail(__FILE__, __LINE__, "a short form becomes a full text", detail + " gave " + Shown(actual));
}

}  // namespace
}  // namespace kz::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> lines = kz::fuzz::Lines(data, size);
  if (lines[0].size() == 1 && lines[0][0] >= 'A' && lines[0][0] <= 'D') {
    kz::fuzz::CheckShortForm(lines);
  } else {
    kz::fuzz::CheckAny(lines);
  }
  return 0;
}

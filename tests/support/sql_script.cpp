#include "tests/support/sql_script.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kz::test {
namespace {

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
  if (s.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  return true;
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> SplitScript(const std::string& script) {
  std::vector<std::string> out;
  std::string term = ";";
  std::string cur;
  bool in_quote = false;
  for (size_t i = 0; i < script.size(); ++i) {
    const char ch = script[i];
    if (!in_quote && ch == '/' && i + 1 < script.size() && script[i + 1] == '*') {
      const auto end = script.find("*/", i + 2);
      i = end == std::string::npos ? script.size() : end + 1;
      continue;
    }
    if (!in_quote && ch == '-' && i + 1 < script.size() && script[i + 1] == '-') {
      const auto end = script.find('\n', i);
      i = end == std::string::npos ? script.size() : end;
      cur += '\n';
      continue;
    }
    if (ch == '\'') in_quote = !in_quote;
    if (!in_quote && script.compare(i, term.size(), term) == 0) {
      std::string stmt = Trim(cur);
      cur.clear();
      i += term.size() - 1;
      if (stmt.empty()) continue;
      if (StartsWithNoCase(stmt, "SET TERM")) {
        term = Trim(stmt.substr(8));
        continue;
      }
      out.push_back(stmt);
      continue;
    }
    cur += ch;
  }
  if (!Trim(cur).empty()) out.push_back(Trim(cur));
  return out;
}

}  // namespace kz::test

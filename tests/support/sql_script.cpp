#include "tests/support/sql_script.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kz::test {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> SplitScript(const std::string& script) {
  const auto trim = [](const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t\r\n") + 1 - b);
  };
  std::vector<std::string> out;
  std::string term = ";", cur;
  bool quoted = false;
  for (size_t i = 0; i < script.size(); ++i) {
    if (!quoted && script.compare(i, 2, "/*") == 0) {
      i = std::min(script.find("*/", i), script.size()) + 1;
      continue;
    }
    if (script[i] == '\'') quoted = !quoted;
    if (quoted || script.compare(i, term.size(), term) != 0) {
      cur += script[i];
      continue;
    }
    i += term.size() - 1;
    const std::string stmt = trim(cur);
    cur.clear();
    if (stmt.rfind("SET TERM", 0) == 0) {
      term = trim(stmt.substr(8));
    } else if (!stmt.empty()) {
      out.push_back(stmt);
    }
  }
  if (!trim(cur).empty()) out.push_back(trim(cur));
  return out;
}

}  // namespace kz::test

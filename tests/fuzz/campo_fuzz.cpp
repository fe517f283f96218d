// Campo. Input: the separator (one or more characters; "|" when empty), then
// the fields, one per line; a field drops every character of the separator.
//
// Property: the fields joined with the separator come back, field n for
// 1 <= n <= count, and "" for n = 0 and n = count + 1.

#include <string>
#include <vector>

#include "common/text_routines.h"
#include "tests/fuzz/fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 10000) return 0;
  std::vector<std::string> lines = kz::fuzz::Lines(data, size, 2);
  if (lines.size() > 64) lines.resize(64);  // each field is one more call
  const std::string sep = lines[0].empty() ? "|" : lines[0];
  std::string joined;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::erase_if(lines[i], [&](char c) { return sep.find(c) != std::string::npos; });
    joined += (i > 1 ? sep : "") + lines[i];
  }
  const kz::Value texto(joined);
  lines.push_back("");  // field count + 1
  for (size_t n = 0; n < lines.size(); ++n) {
    const std::string field = kz::Campo(texto, sep, static_cast<int16_t>(n));
    KZ_CHECK(field == (n == 0 ? "" : lines[n]), joined + " field " + std::to_string(n));
  }
  return 0;
}

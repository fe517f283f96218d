#pragma once

#include <string>
#include <vector>

namespace kz::test {

// Splits an isql-style script into statements: /* */ comments dropped,
// statements ended by the current terminator, "SET TERM x ;" honoured.
std::vector<std::string> SplitScript(const std::string& script);

std::string ReadFile(const std::string& path);

}  // namespace kz::test

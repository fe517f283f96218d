#pragma once

#include <string>

#include "common/runtime_error.h"

namespace kz {

// The text a call yields, or "#n" when it raises run-time error n, so that
// tables can spell out failures next to results.
template <typename F>
std::string Outcome(F&& f) {
  try {
    return f();
  } catch (const RuntimeError& e) {
    return "#" + std::to_string(e.Number());
  }
}

}  // namespace kz

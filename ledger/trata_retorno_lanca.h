#pragma once

#include <cstdint>

#include "data/run_context.h"

namespace kz {

// Reads the number the server gave the new entry of `marca` from
// RetornoLanca and deletes every row of the mark. No row raises 3021 (and
// deletes nothing). Errors go to the caller.
int32_t TrataRetornoLanca(Modulo1& M, int32_t marca);

}  // namespace kz

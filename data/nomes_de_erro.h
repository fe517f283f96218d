#pragma once

#include <cstdint>

namespace kz {

// The symbolic name of a Firebird error code that came after Firebird 3
// ("isc_effective_user"); nullptr for any other code.
const char* NomeDoErro(intptr_t codigo);

}  // namespace kz

#pragma once

#include <cstdint>
#include <string>

#include "data/run_context.h"

namespace kz {

// Posts the reversal of the cost of goods sold of the commitment: debit
// CtaEstBai, credit CtaCtoVda, the sum of quantity × unit cost of its items.
// Any error of its own is recorded under "LancaCMV", the run is rolled back
// and ended (RunEnded).
void LancaCMV(frmProcesso& F, int32_t CodEpn);

// Its query: the cost of the commitment's goods.
std::string SqlCustoDasMercadorias(int32_t CodEpn);

}  // namespace kz

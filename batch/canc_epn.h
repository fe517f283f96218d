#pragma once

#include <cstdint>
#include <string>

#include "data/run_context.h"

namespace kz {

// Reverses one commitment: statistics (when TpvEpn is 1), cost of goods
// sold, and for each payment row a reversing ledger entry and its
// receivable. REQUIRES: F.RsEpn stands on the commitment's row and the run's
// transaction is open. Failures are recorded under "CancEpn" (or the failing
// routine's name), the run is rolled back and ended (RunEnded).
void CancEpn(frmProcesso& F, int32_t CodEpn);

// Its query: the commitment's payment rows.
std::string SqlPagamentos(int32_t CodEpn);

}  // namespace kz

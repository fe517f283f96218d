#pragma once

#include <cstdint>
#include <string>

#include "common/currency.h"
#include "data/run_context.h"

namespace kz {

// REQUIRES: the run's transaction is open; F.RsEpn and F.RsPag stand on the
// commitment and payment row being reversed. A deadlock runs the failing
// step again; any other error is recorded under "GravaCartao", the run is rolled
// back and ended (RunEnded).
void GravaCartao(frmProcesso& F, Currency Valor);

// Its query: the card agreement.
std::string SqlConvenio(int32_t convenio);

}  // namespace kz

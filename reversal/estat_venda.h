#pragma once

#include "data/run_context.h"

namespace kz {

// Takes the commitment F.CodEpn's quantities out of the month of F.DataCanc
// in the sales statistics, one update (or insert) per product. A deadlock
// runs the failing step again; any other error is recorded under
// "EstatVenda", the run is rolled back and ended (RunEnded).
void EstatVenda(frmProcesso& F);

// Its query: the commitment's quantity of each product.
std::string SqlSomaPorProduto(int32_t CodEpn);

}  // namespace kz

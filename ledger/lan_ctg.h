#pragma once

#include <cstdint>
#include <string>

#include "common/currency.h"
#include "common/date_time.h"
#include "data/run_context.h"

namespace kz {

// Posts one double-entry ledger entry and keeps the monthly totals of both
// accounts (and every account above them) in step.
// - numero < 0: a new entry; the server numbers it and `numero` is the mark
//   by which its number is read back. Returns that number; in the deferred
//   mode (M.RetornoEmLote) it counts the entry in M.LancamentosNovos instead,
//   leaves the queue row for EsvaziaRetornoLanca and returns 0.
// - numero >= 0: re-posts entry `numero`: takes the old entry out of the
//   totals, deletes it and writes it again with the new content.
// REQUIRES: the run's transaction is open on M.Conexao.
// Errors are recorded under "LanCtg" and the routine returns 0; a lock
// timeout or a step stuck in lock conflicts is recorded and ends the run
// (RunEnded). A lock conflict on either insert runs that insert again, a
// duplicate number re-runs the new entry's insert (up to 100 times in a row).
// RunEnded and Interrompido pass through.
int32_t LanCtg(Modulo1& M, int32_t numero, const std::string& debito, const std::string& credito,
               const DateTime& data, Currency valor, const std::string& documento,
               const std::string& historico1, const std::string& historico2,
               const std::string& historico3, const std::string& historico4);

}  // namespace kz

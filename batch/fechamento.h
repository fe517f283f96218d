#pragma once

#include "batch/lote.h"
#include "data/run_context.h"

namespace kz {

// The closing statements of a run: CANCELA_SAIDA_ESTOQUE, CANCELA_ENTRADA_ESTOQUE
// and the status update, each run again after a lock conflict.
//
// Another program may give the run's status to a commitment while the run
// goes on; the stock procedures and the status update would then take it in
// without its reversal. So the closing runs inside a savepoint, and the
// status update's count of changed rows is checked against the commitments
// this run reversed: when it is larger, the closing is rolled back to the
// savepoint, the newcomers are selected, locked and reversed, and the closing
// runs again, at most kMaxRodadas times. Every commitment this run sets to 4
// has then been reversed by it.
// REQUIRES: the run's transaction is open and every commitment of `lote` was
// reversed and is locked by it.
void FechaLote(frmProcesso& F, Lote& lote);

inline constexpr int kMaxRodadas = 5;

}  // namespace kz

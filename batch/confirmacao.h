#pragma once

#include "batch/lote.h"
#include "data/run_context.h"

namespace kz {

enum class Desfecho {
  kConfirmado,  // committed
  kDesfeito,    // not committed: nothing of the run stays
  kIncerto,     // the commit's answer was lost and the outcome could not be verified
};

// Commits the run's transaction. A stop request that came before the commit
// is sent undoes the run (Interrompido); one that comes after waits for the
// answer. When the answer is lost (the network or the server went away, or
// no answer came in time; never with the embedded engine), the outcome is
// found out from a new attachment: the run's own transaction, by its number
// (lote.transacao), committed or not. See Verifica in the source. Not
// committed, the commit's error is recorded through that attachment. A
// commit that the server refuses raises its error (nothing was committed).
Desfecho Confirma(frmProcesso& F, const Lote& lote);

}  // namespace kz

#pragma once

#include "batch/lote.h"
#include "data/run_context.h"

namespace kz {

enum class Desfecho {
  kConfirmado,  // committed
  kDesfeito,    // not committed: nothing of the run stays
  kIncerto,     // the commit's answer was lost and the outcome could not be verified
};

// Commits the run's transaction. When the commit's answer is lost (the
// network or the server went away, or no answer came in time), a new
// attachment ends the old one, so that an uncommitted transaction is rolled
// back, and reads the status of the run's commitments: all at 4 means the
// commit was made, all still at the run's status that it was not. A commit
// that the server refuses raises its error (nothing was committed).
Desfecho Confirma(frmProcesso& F, const Lote& lote);

}  // namespace kz

#pragma once

#include "data/run_context.h"

namespace kz {

enum class FimDaPrevia { kSeguiria, kRecusada };

// A read-only preview of a run (--check): in a read-only transaction, counts
// the commitments of the run's status, their payments per kind with their
// sums, the cost of goods sold and the ledger entries a run would post, and
// prints them on standard output. Writes nothing, not even the report.
// REQUIRES: the run context is loaded. Errors go to the caller.
FimDaPrevia Previa(frmProcesso& F);

}  // namespace kz

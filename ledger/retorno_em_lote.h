#pragma once

#include <cstdint>

#include "data/run_context.h"

namespace kz {

// The deferred return queue, turned on with KZ_RETORNO=lote (M.RetornoEmLote).
//
// Every new entry of a run carries the run's status value as its mark, and
// the batch never uses the number a new entry received: reading it back only
// empties the queue. Read back entry by entry, each lookup walks the rows of
// the mark deleted before it in the same transaction (they stay until the
// commit), so a run's time grows with the square of its size. In the deferred
// mode LanCtg leaves each queue row in place and counts the entries it
// inserted, and the run empties the queue of its mark with one delete once
// every commitment is reversed, then compares the rows deleted with that
// count. The closing statements, the report and the end state are those of
// the per-entry mode.

// Whether the deferred mode ends as the per-entry mode does on this database
// for the mark `marca`. It does not, and the run keeps the per-entry mode
// saying why on standard error (one line), when:
// - an active unique index of RetornoLanca (a primary key or unique
//   constraint included) has no column but MARCA, so that rows of one mark
//   collide (an index on an expression, which cannot be judged, counts);
// - RetornoLanca has an active trigger of the host's: it may refuse or
//   change the rows the per-entry mode reads and deletes one at a time;
// - rows of the mark are already queued (left by other programs): each
//   would stand in for a missing row of the run's and hide its error.
// REQUIRES: M.Conexao is open. Database errors go to the caller.
bool AdmiteRetornoEmLote(Modulo1& M, int32_t marca);

// Sends "Delete From RetornoLanca Where Marca=<marca>" (left in Sql) and
// returns the number of rows it deleted; a lock conflict runs it again.
// Keeps no state: after a rollback to a savepoint that restored the rows it
// may be sent again, and the last count is the one to check. Does nothing and
// returns 0 outside the deferred mode. Errors go to the caller.
// REQUIRES: the run's transaction is open; every new entry of the run used
// `marca`.
int64_t EsvaziaRetornoLanca(Modulo1& M, int32_t marca);

// Records the entries whose queue row was missing, as the per-entry mode
// does when an entry's lookup finds no row: one error row under "LanCtg",
// error 3021 ("Either BOF or EOF is True, ..."), and one operator message for
// each new entry beyond the rows deleted, so that the error rows, their count
// and the exit status are the same. The statement recorded with them is the
// delete (the per-entry mode records the entry's activity-log insert, which
// names its accounts: a shortfall does not say which entries it was). More
// rows deleted than entries posted (rows left by earlier runs, which the
// per-entry mode's first lookup deletes too) records nothing. The one case the
// modes tell apart: rows left by earlier runs in a run that also misses rows,
// where each left row stands in for a missing one here, and for at most the
// first entry's in the per-entry mode. Sql is left as it was. Does nothing
// outside the deferred mode. Errors while recording go to the caller.
void ConfereRetornoLanca(Modulo1& M, int32_t marca, int64_t apagadas);

}  // namespace kz

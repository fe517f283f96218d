#pragma once

#include <cstdint>
#include <optional>
#include <unordered_set>
#include <vector>

#include "batch/envio_em_bloco.h"
#include "common/value.h"
#include "data/run_context.h"

namespace kz {

// What a run has done so far, shared by the driver, the closing and the
// verification of a lost commit.
struct Lote {
  std::vector<int32_t> cancelados;       // reversed, in order; reported once committed
  std::unordered_set<int32_t> feitos;    // the same, for lookups
  std::unordered_set<int32_t> travados;  // locked by this run's first lock statement
  std::optional<Value> atual;            // the commitment being cancelled, if any
  size_t total = 0;                      // the size of the run, for the heartbeat
  int64_t conexao = 0;                   // the attachment's number on the server
  int64_t transacao = 0;                 // the run's transaction's number
  EnvioEmBloco bloco;                    // KZ_ENVIO=bloco
};

// Reverses, through CancEpn, every commitment of the run's status that F.RsEpn
// (open, standing on its first row) holds and this run has not reversed
// yet. A commitment that the first lock statement did not lock (it got the
// status since) is locked on its own first, and skipped when it no longer
// has the status. REQUIRES: the run's transaction is open.
void CancelaSelecionados(frmProcesso& F, Lote& lote);

// The run's status selection into F.RsEpn; false when it is empty. With
// KZ_ENVIO=bloco its rows are read into memory at once, so that the next
// commitment's code is known while the current one is sent.
bool SelecionaEmpenhos(frmProcesso& F);

}  // namespace kz

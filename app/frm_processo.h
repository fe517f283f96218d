#pragma once

#include "data/run_context.h"

namespace kz {

// Exit statuses of the program.
enum ExitStatus : int {
  kExitCommitted = 0,
  kExitCommittedWithErrors = 1,  // committed, but ledger errors were recorded
  kExitRefused = 2,              // "Parametros de Liberação Invalidos !"
  kExitRolledBack = 3,           // failed and rolled back (also after a stop request)
  kExitStartupFailed = 4,        // nothing changed
  kExitCommittedNoReport = 5,    // committed, but the report could not be written
  kExitUnknown = 6,              // the commit's answer was lost and could not be verified
};

// Seconds the run waits for the commit's answer before it verifies the
// outcome from a new attachment (KZ_COMMIT_TIMEOUT overrides it).
inline constexpr int kEsperaPeloCommit = 120;

// Start-up: reads both settings files, completes the connection text, opens
// the connection, reads the server clock and the first parameters row into
// the run context. Only reads; any failure raises RuntimeError.
void CarregaContexto(frmProcesso& F);

// The window's load event: start-up, then the batch. A start-up failure is
// reported on standard error ("Erro <number>: <description>") and gives
// kExitStartupFailed. Returns the exit status.
// REQUIRES: the watcher runs (vigia::Inicia).
int Form_Load(frmProcesso& F);

// --check: start-up, then a read-only preview of the run (nothing written).
// Returns 0 when a run would go ahead, kExitRefused when it would be refused,
// kExitStartupFailed when start-up fails.
int Verifica(frmProcesso& F);

// This machine's host name, whole.
std::string NomeDaMaquina();

}  // namespace kz

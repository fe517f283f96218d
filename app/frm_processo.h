#pragma once

#include "data/run_context.h"

namespace kz {

// Exit statuses of the program.
enum ExitStatus : int {
  kExitCommitted = 0,
  kExitCommittedWithErrors = 1,  // committed, but ledger errors were recorded
  kExitRefused = 2,              // "Parametros de Liberação Invalidos !"
  kExitRolledBack = 3,           // failed and rolled back
  kExitStartupFailed = 4,        // nothing changed
};

// Start-up: reads both settings files, completes the connection text, opens
// the connection, reads the server clock and the first parameters row into
// the run context. Only reads; any failure raises RuntimeError.
void CarregaContexto(frmProcesso& F);

// The window's load event: start-up, then the batch. A start-up failure is
// reported on standard error ("Erro <number>: <description>") and gives
// kExitStartupFailed. Returns the exit status.
int Form_Load(frmProcesso& F);

// This machine's host name, whole.
std::string NomeDaMaquina();

}  // namespace kz

#pragma once

namespace kz {

// For the tests: when KZ_PAUSA_TESTE names `ponto` (one of a comma-separated
// list), the process stops itself there (SIGSTOP) until it is continued, so
// that a test can act at a known point of a run. A signal the test sent
// meanwhile reaches the watcher before the run goes on. Unset, nothing.
void PontoDeTeste(const char* ponto);

}  // namespace kz

#pragma once

#include <cstdint>
#include <string>

#include "common/runtime_error.h"
#include "data/run_context.h"

namespace kz {

// Thrown once a routine has recorded its error and rolled the run back. It is
// no RuntimeError (nor std::exception), so no routine's handler catches it:
// nothing of the run executes after the rollback.
struct RunEnded {};

// The server's texts for a lock conflict and a duplicate key (exact,
// case-sensitive).
bool IsDeadlock(const RuntimeError& e);
bool IsUniqueKey(const RuntimeError& e);

// Runs `step` again, immediately and without limit, for as long as it fails
// with a "deadlock" (a lock conflict: the other transaction has finished, so
// the step now sees its work). Any other error goes to the caller.
template <class Step>
void RepeteEmDeadlock(Step&& step) {
  for (;;) {
    try {
      step();
      return;
    } catch (const RuntimeError& e) {
      if (!IsDeadlock(e)) throw;
    }
  }
}

// One retryable step of a routine: PontoRetorno names it while it runs.
template <class Step>
void Passo(Modulo1& M, int16_t passo, Step&& step) {
  RepeteEmDeadlock([&] {
    M.PontoRetorno = passo;
    step();
  });
}

// Rolls the run's transaction back and ends the run (throws RunEnded).
[[noreturn]] void EncerraExecucao(Modulo1& M);

// The handler of a batch routine: any run-time error of `body` is recorded
// under `rotina`, the run is rolled back and ended.
template <class Body>
void RotinaDoLote(Modulo1& M, const std::string& rotina, Body&& body);

}  // namespace kz

#include "data/grava_erro.h"

namespace kz {
template <class Body>
void RotinaDoLote(Modulo1& M, const std::string& rotina, Body&& body) {
  try {
    body();
  } catch (const RuntimeError& e) {
    GravaErro(M, rotina, e);
    EncerraExecucao(M);
  }
}
}  // namespace kz

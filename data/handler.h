#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "common/runtime_error.h"
#include "data/run_context.h"

namespace kz {

// Thrown once a routine has recorded its error and rolled the run back. It is
// no RuntimeError (nor std::exception), so no routine's handler catches it:
// nothing of the run executes after the rollback.
struct RunEnded {};

// Lock conflicts and duplicate keys as the database's error codes say, never
// by their text.
bool IsDeadlock(const RuntimeError& e);
bool IsUniqueKey(const RuntimeError& e);

// The retry of one step after lock conflicts. A conflict means that another
// transaction changed the row the step waited for and has ended, so running
// the step again applies it to the row as it is now: the first time at once,
// then paced (10 ms doubling up to 1 s). Two cases do not go on:
// - the same transaction still holds the row after two waits: a deadlock (or
//   a lock held for ever), which waiting again cannot resolve;
// - kMaxConflitos conflicts in a row.
// Both raise ErrorKind::kLockStuck, which rolls the run back wherever it
// arrives. Every tenth conflict in a row prints a line on standard error.
class Retentativa {
 public:
  static constexpr int kMaxConflitos = 30;

  // Whether to run the step again after `e` (it waits before answering yes);
  // false for any error that is no lock conflict. Throws kLockStuck.
  bool DeveRepetir(const RuntimeError& e);

  // How the retries wait; tests replace it.
  static void (*Pausa)(std::chrono::milliseconds);

 private:
  int seguidos_ = 0;
  int64_t ultimo_detentor_ = 0;
};

// Runs `step` until it does not meet a lock conflict (see Retentativa). Any
// other error goes to the caller.
template <class Step>
void RepeteEmDeadlock(Step&& step) {
  Retentativa r;
  for (;;) {
    try {
      step();
      return;
    } catch (const RuntimeError& e) {
      if (!r.DeveRepetir(e)) throw;
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

// Runs the update in M.Sql as step 1 and, when it changed no row, the
// statement `insercao()` renders as step 2 (left in Sql). On a recording
// connection both are recorded, the insert to run when the update changed
// no row (data/bloco.h).
void AtualizaSenaoInsere(Modulo1& M, const std::function<std::string()>& insercao);

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

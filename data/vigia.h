#pragma once

#include <cstddef>
#include <string_view>

namespace Firebird {
class IAttachment;
}

namespace kz {

// Thrown when an operator's stop request (SIGTERM, SIGINT or SIGHUP) ends the
// run. It is no RuntimeError, so no routine records it as its own failure or
// carries on past it: it reaches the driver, which records the stop, rolls
// back and ends the run.
struct Interrompido {
  int sinal;
};

// The run's watcher: a thread of its own that takes the stop signals, cancels
// the running statement on a stop request, bounds connecting and the wait for
// the commit's answer, and tells the operator what a long run is doing (a
// heartbeat when standard error is no terminal, a line when one statement
// runs long). The data layer reports the phases; the batch reports progress.
namespace vigia {

// Blocks the stop signals in the calling thread, and so in every thread it
// starts later (call it first in main), and starts the watcher.
void Inicia();
// Stops the watcher thread.
void Termina();

// While it lives, the process is connecting, a call the client library gives
// no way to cancel: a stop request ends the process at once with
// `status_parada`, and when `limite_s` (> 0) seconds pass first it ends with
// `status` after the message `porque`.
class Conectando {
 public:
  Conectando(int limite_s, int status, std::string_view porque, int status_parada);
  ~Conectando();
  Conectando(const Conectando&) = delete;
  Conectando& operator=(const Conectando&) = delete;
};

// How long a stop request may take, from the signal to the end of the
// process, whatever the run is doing: when the statement it cancels has not
// ended kFechaParada after the signal (or what the stop then does itself,
// its error row and the rollback, has taken that long), the attachment in use
// is closed on the client's side (a statement the server does not answer
// cannot be cancelled; the server rolls back what it had), and past
// kLimiteParada the process ends (exit 3, or 6 once the commit was sent).
// Only an embedded commit is waited for: the engine in the process always
// answers.
inline constexpr int kFechaParada = 6;
inline constexpr int kLimiteParada = 10;

// A statement (`sql` stays alive until ComandoTermina) runs on `att`. Throws
// Interrompido when a stop request is pending.
void ComandoInicia(Firebird::IAttachment* att, std::string_view sql);
void ComandoTermina();

// The commit is about to be sent on `att`. Throws Interrompido when a stop
// request is pending, so that a stop request either undoes the run or finds
// the commit sent, never both. From here on a stop request waits for the
// commit's answer. When no answer comes within `limite_s` (> 0) seconds, the
// connection is aborted so that the call returns and the outcome can be
// verified; `embutido`: the embedded engine's commit, which is never aborted.
void ConfirmacaoInicia(Firebird::IAttachment* att, int limite_s, bool embutido);
void ConfirmacaoTermina();

// `att` is gone: the watcher must not touch it any more.
void Esquece(Firebird::IAttachment* att);

// A stop request came and has not been acknowledged.
bool ParadaPedida();
// The signal of the stop request (0 when none).
int Sinal();
// The stop is being handled: statements may run again (to record the stop
// and roll back). Once it returns, the watcher sends no more cancel
// requests.
void ReconheceParada();

// "SIGTERM", "SIGINT", "SIGHUP".
const char* NomeDoSinal(int sinal);

// Commitments done so far and the size of the run: a progress line, rewritten
// every second, when standard error is a terminal, else a heartbeat line every
// minute (KZ_BATIMENTO seconds when set: done, total, rate, time so far and
// time left).
void Progresso(size_t feitos, size_t total);
// No more progress lines; ends the terminal's line when one stands.
void FimDoProgresso();
// Seconds since the watcher started.
double Decorrido();

}  // namespace vigia
}  // namespace kz

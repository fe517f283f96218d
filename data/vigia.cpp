#include "data/vigia.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "common/mensagem.h"
#include "data/familia_sql.h"
#include "data/fb_session.h"
#include "data/sql_trace.h"

using namespace Firebird;
using Clock = std::chrono::steady_clock;

namespace kz::vigia {
namespace {

constexpr auto kPasso = std::chrono::milliseconds(200);
constexpr auto kComandoLongo = std::chrono::seconds(10);
constexpr auto kRepeteAviso = std::chrono::seconds(60);
constexpr int kBatimentoPadrao = 60;
constexpr auto kLinhaDoTerminal = std::chrono::seconds(1);

enum class Fase { kOcioso, kConectando, kComando, kConfirmando };

struct Estado {
  std::mutex mu;
  Fase fase = Fase::kOcioso;
  Clock::time_point inicio;
  IAttachment* att = nullptr;
  std::string_view sql;
  int limite_s = 0;
  int status_expirou = 0;
  int status_parada = 0;
  std::string porque;
  Clock::time_point aviso;  // when the current phase's next "runs long" line is due
  bool abortado = false;
  bool embutido = false;  // the commit phase is the embedded engine's
  // The attachment last seen in a phase, which a stop that takes too long
  // closes; cleared when its connection closes.
  IAttachment* ultima = nullptr;
  bool commit_enviado = false;
  // Stop request.
  std::atomic<bool> parada{false};
  std::atomic<bool> reconhecida{false};
  std::atomic<int> sinal{0};
  Clock::time_point parada_em;
  Clock::time_point reconhecida_em;
  bool parada_fechou = false;
  // Progress.
  size_t feitos = 0;
  size_t total = 0;
  Clock::time_point comeco = Clock::now();
  Clock::time_point batida = Clock::now();
  bool terminal = false;  // standard error is a terminal: a progress line, else a heartbeat
  std::chrono::seconds batimento{kBatimentoPadrao};
  bool linha_escrita = false;  // the terminal's progress line stands unfinished
  bool progresso_fim = false;
  // The thread.
  std::thread thread;
  std::atomic<bool> fim{false};
};

Estado& E() {
  static Estado e;
  return e;
}

sigset_t SinaisDeParada() {
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, SIGTERM);
  sigaddset(&s, SIGINT);
  sigaddset(&s, SIGHUP);
  return s;
}

std::string Duracao(double s) {
  const long t = static_cast<long>(s + 0.5);
  char b[32];
  if (t >= 3600) {
    std::snprintf(b, sizeof b, "%ld h %02ld min", t / 3600, t / 60 % 60);
  } else {
    std::snprintf(b, sizeof b, "%ld min %02ld s", t / 60, t % 60);
  }
  return b;
}

void Cancela(IAttachment* att, int modo) {
  if (!att) return;
  FbStatus st;
  try {
    att->cancelOperation(&st, modo);
  } catch (const FbException&) {
    // Nothing running yet, or already finished: the next tick tries again
    // while the phase lasts.
  }
}

// REQUIRES: e.mu held.
void AoPedirParada(Estado& e, int s) {
  e.sinal = s;
  e.parada = true;
  e.parada_em = Clock::now();
  switch (e.fase) {
    case Fase::kConectando:
      Mensagem(Prioridade::kErro,
               std::string("interrompido por ") + NomeDoSinal(s) + " ao conectar");
      ::_exit(e.status_parada);
    case Fase::kConfirmando:
      Mensagem(Prioridade::kAviso, std::string(NomeDoSinal(s)) +
                                       " recebido com o commit enviado; aguardando a resposta");
      break;
    default:
      Mensagem(Prioridade::kAviso, std::string(NomeDoSinal(s)) +
                                       " recebido; cancelando o comando e desfazendo a execucao");
      break;
  }
}

// A stop request is bounded in time (kFechaParada, kLimiteParada).
// REQUIRES: e.mu held.
void LimitaParada(Estado& e, Clock::time_point agora) {
  if (!e.parada || (e.fase == Fase::kConfirmando && e.embutido)) return;
  const auto passou = agora - e.parada_em;
  if (passou >= std::chrono::seconds(kLimiteParada)) {
    const int status = e.commit_enviado ? 6 : 3;
    Mensagem(Prioridade::kErro,
             std::string(NomeDoSinal(e.sinal)) + ": a execucao nao terminou em " +
                 std::to_string(kLimiteParada) + " s; o processo termina agora (" +
                 (status == 6 ? "o commit foi enviado: resultado desconhecido, confira os "
                                "empenhos (STAEPN=4) antes de executar de novo)"
                              : "nada foi confirmado; o servidor desfaz o que tinha)"));
    ::_exit(status);
  }
  // The server does not answer: the statement the stop cancels has not
  // ended, or, once it has, what the stop does itself (its error row, the
  // rollback) has taken as long.
  const auto fecha = std::chrono::seconds(kFechaParada);
  const bool sem_resposta = e.reconhecida ? agora - e.reconhecida_em >= fecha : passou >= fecha;
  if (sem_resposta && !e.parada_fechou && e.ultima) {
    e.parada_fechou = true;
    Mensagem(Prioridade::kAviso, "o servidor nao responde ha " + std::to_string(kFechaParada) +
                                     " s; a conexao sera fechada");
    Cancela(e.ultima, fb_cancel_abort);
  }
}

// REQUIRES: e.mu held.
void Observa(Estado& e, Clock::time_point agora) {
  LimitaParada(e, agora);
  const auto decorrido = agora - e.inicio;
  switch (e.fase) {
    case Fase::kConectando:
      if (e.limite_s > 0 && decorrido >= std::chrono::seconds(e.limite_s)) {
        Mensagem(Prioridade::kErro, e.porque);
        ::_exit(e.status_expirou);
      }
      break;
    case Fase::kComando:
      if (e.parada && !e.reconhecida) Cancela(e.att, fb_cancel_raise);
      if (agora >= e.aviso) {
        e.aviso = agora + kRepeteAviso;
        Mensagem(Prioridade::kAviso, FamiliaSql(e.sql) + " roda ha " +
                                         Duracao(std::chrono::duration<double>(decorrido).count()) +
                                         "; espera, talvez por um bloqueio de outra transacao");
      }
      break;
    case Fase::kConfirmando:
      if (agora >= e.aviso) {
        e.aviso = agora + kRepeteAviso;
        Mensagem(Prioridade::kAviso, "aguardando a resposta do commit ha " +
                                         Duracao(std::chrono::duration<double>(decorrido).count()));
      }
      if (e.limite_s > 0 && !e.abortado && decorrido >= std::chrono::seconds(e.limite_s)) {
        e.abortado = true;
        Mensagem(Prioridade::kErro,
                 "sem resposta do commit em " + std::to_string(e.limite_s) +
                     " s; a conexao sera fechada e o resultado verificado por outra conexao");
        Cancela(e.att, fb_cancel_abort);
      }
      break;
    case Fase::kOcioso:
      break;
  }
  if (e.total == 0 || e.progresso_fim) return;
  const double s = std::chrono::duration<double>(agora - e.comeco).count();
  const double taxa = s > 0 ? static_cast<double>(e.feitos) / s : 0;
  if (e.terminal && agora - e.batida >= kLinhaDoTerminal) {
    e.batida = agora;
    char b[96];
    std::snprintf(b, sizeof b, "\r%zu de %zu empenhos cancelados (%.0f/s)   ", e.feitos, e.total,
                  taxa);
    EscreveErroPadrao(b);
    e.linha_escrita = true;
  } else if (!e.terminal && agora - e.batida >= e.batimento) {
    e.batida = agora;
    std::string linha =
        std::to_string(e.feitos) + " de " + std::to_string(e.total) + " empenhos cancelados; ";
    char b[32];
    std::snprintf(b, sizeof b, "%.1f/s", taxa);
    linha += b;
    linha += "; decorrido " + Duracao(s);
    if (taxa > 0 && e.total >= e.feitos) {
      linha += "; restante estimado " + Duracao(static_cast<double>(e.total - e.feitos) / taxa);
    }
    Mensagem(Prioridade::kInfo, linha);
  }
}

void Laco() {
  Estado& e = E();
  const sigset_t sinais = SinaisDeParada();
  const timespec passo{0, std::chrono::nanoseconds(kPasso).count()};
  while (!e.fim) {
    siginfo_t info;
    const int s = ::sigtimedwait(&sinais, &info, &passo);
    FlushSqlTrace();
    std::lock_guard<std::mutex> l(e.mu);
    if (s > 0 && !e.parada) AoPedirParada(e, s);
    Observa(e, Clock::now());
  }
}

void Entra(Fase fase, IAttachment* att, std::string_view sql, int limite_s) {
  Estado& e = E();
  if (att) e.ultima = att;
  e.fase = fase;
  e.inicio = Clock::now();
  e.aviso = e.inicio + kComandoLongo;
  e.att = att;
  e.sql = sql;
  e.limite_s = limite_s;
  e.abortado = false;
}

}  // namespace

void Inicia() {
  Estado& e = E();
  const sigset_t sinais = SinaisDeParada();
  ::pthread_sigmask(SIG_BLOCK, &sinais, nullptr);
  e.terminal = ::isatty(STDERR_FILENO) == 1;
  // KZ_BATIMENTO: seconds between heartbeat lines.
  if (const char* b = std::getenv("KZ_BATIMENTO"); b && std::atoi(b) > 0) {
    e.batimento = std::chrono::seconds(std::atoi(b));
  }
  e.comeco = e.batida = Clock::now();
  e.thread = std::thread(Laco);
}

void Termina() {
  Estado& e = E();
  e.fim = true;
  if (e.thread.joinable()) e.thread.join();
}

Conectando::Conectando(int limite_s, int status, std::string_view porque, int status_parada) {
  Estado& e = E();
  std::lock_guard<std::mutex> l(e.mu);
  Entra(Fase::kConectando, nullptr, {}, limite_s);
  e.status_expirou = status;
  e.status_parada = status_parada;
  e.porque = porque;
  if (e.parada && !e.reconhecida) AoPedirParada(e, e.sinal);
}

Conectando::~Conectando() {
  Estado& e = E();
  std::lock_guard<std::mutex> l(e.mu);
  Entra(Fase::kOcioso, nullptr, {}, 0);
}

void ComandoInicia(IAttachment* att, std::string_view sql) {
  Estado& e = E();
  if (e.parada && !e.reconhecida) throw Interrompido{e.sinal};
  std::lock_guard<std::mutex> l(e.mu);
  Entra(Fase::kComando, att, sql, 0);
}

void ComandoTermina() {
  Estado& e = E();
  std::lock_guard<std::mutex> l(e.mu);
  Entra(Fase::kOcioso, nullptr, {}, 0);
}

void ConfirmacaoInicia(IAttachment* att, int limite_s, bool embutido) {
  Estado& e = E();
  std::lock_guard<std::mutex> l(e.mu);
  if (e.parada && !e.reconhecida) throw Interrompido{e.sinal};
  Entra(Fase::kConfirmando, att, {}, embutido ? 0 : limite_s);
  e.embutido = embutido;
  e.commit_enviado = true;
}

void Esquece(IAttachment* att) {
  Estado& e = E();
  std::lock_guard<std::mutex> l(e.mu);
  if (e.ultima == att) e.ultima = nullptr;
  if (e.att == att) e.att = nullptr;
}

void ConfirmacaoTermina() {
  Estado& e = E();
  std::lock_guard<std::mutex> l(e.mu);
  // A stop that waited for an embedded commit, however long it took, leaves
  // the run its bound for what is left (the report).
  if (e.embutido && e.parada) e.parada_em = Clock::now();
  e.embutido = false;
  Entra(Fase::kOcioso, nullptr, {}, 0);
}

bool ParadaPedida() {
  Estado& e = E();
  return e.parada && !e.reconhecida;
}

int Sinal() { return E().sinal; }

void ReconheceParada() {
  Estado& e = E();
  // Under the lock: a cancel request being sent ends first.
  std::lock_guard<std::mutex> l(e.mu);
  e.reconhecida = true;
  e.reconhecida_em = Clock::now();
}

const char* NomeDoSinal(int s) {
  switch (s) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
  }
  return "um sinal";
}

void Progresso(size_t feitos, size_t total) {
  Estado& e = E();
  std::lock_guard<std::mutex> l(e.mu);
  e.feitos = feitos;
  e.total = total;
}

void FimDoProgresso() {
  Estado& e = E();
  std::lock_guard<std::mutex> l(e.mu);
  e.progresso_fim = true;
  if (e.linha_escrita) EscreveErroPadrao("\r\n");
  e.linha_escrita = false;
}

double Decorrido() { return std::chrono::duration<double>(Clock::now() - E().comeco).count(); }

}  // namespace kz::vigia

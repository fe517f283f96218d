#include "data/handler.h"

#include <algorithm>
#include <thread>

#include "common/mensagem.h"

namespace kz {

bool IsDeadlock(const RuntimeError& e) { return e.Kind() == ErrorKind::kLockConflict; }

bool IsUniqueKey(const RuntimeError& e) { return e.Kind() == ErrorKind::kUniqueKey; }

void (*Retentativa::Pausa)(std::chrono::milliseconds) = [](std::chrono::milliseconds ms) {
  std::this_thread::sleep_for(ms);
};

bool Retentativa::DeveRepetir(const RuntimeError& e) {
  if (!IsDeadlock(e)) return false;
  ++seguidos_;
  const std::string onde = e.Statement().empty() ? std::string("um passo") : e.Statement();
  // After a conflict the holder has ended; meeting the same holder again
  // means it never did: it waits for us, or holds the row for ever.
  if (e.Holder() != 0 && e.Holder() == ultimo_detentor_) {
    throw RuntimeError(
        e.Number(),
        "impasse em " + onde + ": a transacao " + std::to_string(e.Holder()) +
            " de outra conexao segura a linha depois de duas esperas (um impasse)\n-" +
            e.Description(),
        ErrorKind::kLockStuck, e.Holder(), e.Statement());
  }
  ultimo_detentor_ = e.Holder();
  if (seguidos_ >= kMaxConflitos) {
    throw RuntimeError(e.Number(),
                       std::to_string(seguidos_) + " conflitos de bloqueio seguidos em " + onde +
                           "\n-" + e.Description(),
                       ErrorKind::kLockStuck, e.Holder(), e.Statement());
  }
  if (seguidos_ % 10 == 0) {
    Mensagem(Prioridade::kAviso, std::to_string(seguidos_) + " conflitos de bloqueio seguidos em " +
                                     onde + "; tentando de novo");
  }
  if (seguidos_ > 1) {
    Pausa(std::chrono::milliseconds(std::min(10 << std::min(seguidos_ - 2, 7), 1000)));
  }
  return true;
}

void AtualizaSenaoInsere(Modulo1& M, const std::function<std::string()>& insercao) {
  if (M.Conexao.Gravando()) {
    M.Conexao.GravaAtualizaSenaoInsere(M.Sql, insercao());
    return;
  }
  int64_t alteradas = 0;
  Passo(M, 1, [&] { M.Conexao.Execute(M.Sql, alteradas); });
  if (alteradas == 0) {
    M.Sql = insercao();
    Passo(M, 2, [&] { M.Conexao.Execute(M.Sql); });
  }
}

void EncerraExecucao(Modulo1& M) {
  if (M.Conexao.State() == 1 && M.Conexao.InTransaction()) {
    try {
      M.Conexao.RollbackTrans();
    } catch (const RuntimeError& e) {
      // Nothing was committed; the server undoes the transaction when the
      // attachment goes. Say why the rollback could not be confirmed.
      Mensagem(Prioridade::kErro,
               "rollback: " + std::to_string(e.Number()) + " " + e.Description());
    }
  }
  throw RunEnded{};
}

}  // namespace kz

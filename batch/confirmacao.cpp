#include "batch/confirmacao.h"

#include <string>

#include "common/mensagem.h"
#include "common/runtime_error.h"
#include "data/record_set.h"
#include "data/vigia.h"

namespace kz {
namespace {

// How long the verification waits for the old transaction to end, and for a
// connection when no connect timeout was set.
constexpr int kEsperaVerificacao = 30;
constexpr int kConexaoVerificacao = 60;
// Codes per IN list (the server takes up to 1500).
constexpr size_t kPorConsulta = 500;

std::string Incerto(const frmProcesso& F) {
  return "resultado desconhecido: confira se os empenhos do status " +
         std::to_string(F.StaEpnCanc) +
         " estao com STAEPN=4 (commit feito) antes de executar de novo";
}

Desfecho Verifica(frmProcesso& F, const Lote& lote) {
  Modulo1& M = F.M;
  OpcoesConexao opcoes = M.Opcoes;
  opcoes.lock_timeout_s = kEsperaVerificacao;
  if (opcoes.connect_timeout_s <= 0) opcoes.connect_timeout_s = kConexaoVerificacao;
  opcoes.status_sem_conexao = 6;
  opcoes.status_parada = 6;
  opcoes.sem_conexao = "; " + Incerto(F);
  Connection outra;
  outra.Open(F.StrConexao, opcoes);
  // The old attachment may still be alive on the server with its transaction
  // open (its client only lost the line): ending it rolls that transaction
  // back unless the commit was already made.
  try {
    outra.Execute("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID=" +
                  std::to_string(lote.conexao));
  } catch (const RuntimeError&) {
    // Gone already, or not ours to end: the read below waits for it.
  }
  // Reading without record versions waits for a transaction that changed
  // the rows and has not ended, so what is read is final.
  outra.BeginTrans(ModoTransacao::kVerificacao);
  int64_t marcados = 0, pendentes = 0;
  for (size_t i = 0; i < lote.cancelados.size(); i += kPorConsulta) {
    std::string lista;
    for (size_t k = i; k < lote.cancelados.size() && k < i + kPorConsulta; ++k) {
      lista += (lista.empty() ? "" : ",") + std::to_string(lote.cancelados[k]);
    }
    RecordSet rs;
    rs.Open("SELECT SUM(CASE WHEN STAEPN=4 THEN 1 ELSE 0 END), SUM(CASE WHEN STAEPN=" +
                std::to_string(F.StaEpnCanc) +
                " THEN 1 ELSE 0 END) FROM TB_VDA_CADEPN WHERE CODEPN IN (" + lista + ")",
            outra);
    if (!rs.FieldAt(0).IsNull()) marcados += rs.FieldAt(0).ToLong();
    if (!rs.FieldAt(1).IsNull()) pendentes += rs.FieldAt(1).ToLong();
  }
  outra.RollbackTrans();
  const auto n = static_cast<int64_t>(lote.cancelados.size());
  if (n > 0 && marcados == n) return Desfecho::kConfirmado;
  if (n > 0 && pendentes == n) return Desfecho::kDesfeito;
  return Desfecho::kIncerto;
}

}  // namespace

Desfecho Confirma(frmProcesso& F, const Lote& lote) {
  Modulo1& M = F.M;
  // The last moment a stop request can still undo the run.
  if (vigia::ParadaPedida()) throw Interrompido{vigia::Sinal()};
  try {
    M.Conexao.CommitTrans();
    return Desfecho::kConfirmado;
  } catch (const RuntimeError& e) {
    if (e.Kind() != ErrorKind::kConnectionLost) throw;
    const std::string& d = e.Description();
    Mensagem(Prioridade::kErro, "a resposta do commit se perdeu (" + d.substr(0, d.find('\n')) +
                                    "); verificando o resultado por outra conexao");
  }
  // The commit was sent: from here on a stop request only waits for the
  // truth, so the verification's statements must run.
  vigia::ReconheceParada();
  Desfecho desfecho = Desfecho::kIncerto;
  try {
    desfecho = Verifica(F, lote);
  } catch (const RuntimeError& e) {
    Mensagem(Prioridade::kErro, "verificacao: erro " + std::to_string(e.Number()) + ": " +
                                    e.Description().substr(0, e.Description().find('\n')));
  }
  switch (desfecho) {
    case Desfecho::kConfirmado:
      Mensagem(Prioridade::kAviso, "verificado: o commit foi feito");
      break;
    case Desfecho::kDesfeito:
      Mensagem(Prioridade::kErro,
               "verificado: o commit nao foi feito; nada foi alterado, pode ser executado de novo");
      break;
    case Desfecho::kIncerto:
      Mensagem(Prioridade::kErro, Incerto(F));
      break;
  }
  return desfecho;
}

}  // namespace kz

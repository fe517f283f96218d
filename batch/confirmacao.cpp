#include "batch/confirmacao.h"

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "batch/ponto_de_teste.h"
#include "common/mensagem.h"
#include "common/runtime_error.h"
#include "data/grava_erro.h"
#include "data/record_set.h"
#include "data/vigia.h"

namespace kz {
namespace {

using Clock = std::chrono::steady_clock;

// How long the check waits for a connection when no connect timeout was set.
constexpr int kConexaoVerificacao = 60;
// Codes per IN list (the server takes up to 1500).
constexpr size_t kPorConsulta = 500;
constexpr auto kIntervalo = std::chrono::milliseconds(100);

std::string Incerto(const frmProcesso& F) {
  return "resultado desconhecido: confira se os empenhos do status " +
         std::to_string(F.StaEpnCanc) +
         " estao com STAEPN=4 (commit feito) antes de executar de novo";
}

// What the run's commitments show now, read without waiting for anyone:
// how many carry a version written by the run's transaction, and how many
// still have the run's status.
struct Leitura {
  int64_t da_transacao = 0;
  int64_t na_marca = 0;
};

Leitura Le(Connection& c, const frmProcesso& F, const Lote& lote) {
  Leitura l;
  for (size_t i = 0; i < lote.cancelados.size(); i += kPorConsulta) {
    std::string lista;
    for (size_t k = i; k < lote.cancelados.size() && k < i + kPorConsulta; ++k) {
      lista += (lista.empty() ? "" : ",") + std::to_string(lote.cancelados[k]);
    }
    RecordSet rs;
    rs.Open("SELECT SUM(IIF(RDB$RECORD_VERSION = " + std::to_string(lote.transacao) +
                ", 1, 0)), SUM(IIF(STAEPN = " + std::to_string(F.StaEpnCanc) +
                ", 1, 0)) FROM TB_VDA_CADEPN WHERE CODEPN IN (" + lista + ")",
            c);
    if (!rs.FieldAt(0).IsNull()) l.da_transacao += rs.FieldAt(0).ToLong();
    if (!rs.FieldAt(1).IsNull()) l.na_marca += rs.FieldAt(1).ToLong();
  }
  return l;
}

// The server's own word on a transaction, from Firebird 4 on: committed,
// rolled back, or not known (still active, an older server).
enum class Estado { kDesconhecido, kConfirmada, kDesfeita };

Estado EstadoDaTransacao(Connection& c, int64_t transacao) {
  try {
    RecordSet rs;
    rs.Open("SELECT RDB$GET_TRANSACTION_CN(" + std::to_string(transacao) + ") FROM RDB$DATABASE",
            c);
    if (rs.FieldAt(0).IsNull()) return Estado::kDesconhecido;
    const double cn = rs.FieldAt(0).ToDouble();
    // -2 dead (rolled back), -1 in limbo, 0 active, above 0 committed.
    if (cn > 0) return Estado::kConfirmada;
    if (cn == -2) return Estado::kDesfeita;
  } catch (const RuntimeError&) {
    // Firebird 3 has no such function: the rows tell.
  }
  return Estado::kDesconhecido;
}

bool ConexaoViva(Connection& c, int64_t conexao) {
  RecordSet rs;
  rs.Open(
      "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = " + std::to_string(conexao),
      c);
  return rs.FieldAt(0).ToLong() > 0;
}

// The outcome of the run's transaction T, from a new attachment.
// - A commitment row whose current version T wrote means T committed: reads
//   see only committed versions. Firebird 4 and later also say so by T's
//   commit number, and that T was rolled back.
// - Otherwise T may still be active on the server (its client only lost the
//   line) and commit later: its attachment is ended (the login's role holds
//   DELETE on MON$ATTACHMENTS, which reaches only the login's own
//   attachments), and nothing is concluded before it is gone, which the
//   check waits for, within the commit timeout. Then T has ended: no row of T
//   and every commitment still at the run's status means not committed.
// - Anything else is unknown.
Desfecho Verifica(frmProcesso& F, const Lote& lote, Connection& outra) {
  Modulo1& M = F.M;
  const auto veredito = [&]() -> std::optional<Desfecho> {
    const Estado e = EstadoDaTransacao(outra, lote.transacao);
    if (e == Estado::kConfirmada) return Desfecho::kConfirmado;
    if (Le(outra, F, lote).da_transacao > 0) return Desfecho::kConfirmado;
    if (e == Estado::kDesfeita) return Desfecho::kDesfeito;
    return std::nullopt;
  };
  if (const auto v = veredito()) return *v;

  try {
    outra.Execute("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID=" +
                  std::to_string(lote.conexao));
  } catch (const RuntimeError& e) {
    // Not ours to end: it may still go by itself (below).
    const std::string& d = e.Description();
    Mensagem(Prioridade::kAviso,
             "a conexao anterior nao pode ser encerrada (" + d.substr(0, d.find('\n')) + ")");
  }
  const auto limite = Clock::now() + std::chrono::seconds(std::max(M.Opcoes.commit_timeout_s, 1));
  while (ConexaoViva(outra, lote.conexao)) {
    if (const auto v = veredito()) return *v;
    if (Clock::now() >= limite) return Desfecho::kIncerto;
    std::this_thread::sleep_for(kIntervalo);
  }
  PontoDeTeste("verificacao");
  if (const auto v = veredito()) return *v;
  const Leitura l = Le(outra, F, lote);
  if (l.na_marca == static_cast<int64_t>(lote.cancelados.size())) return Desfecho::kDesfeito;
  return Desfecho::kIncerto;
}

}  // namespace

Desfecho Confirma(frmProcesso& F, const Lote& lote) {
  Modulo1& M = F.M;
  RuntimeError perdido(0, "");
  try {
    M.Conexao.CommitTrans();
    if (vigia::Sinal() != 0) {
      Mensagem(Prioridade::kAviso,
               std::string(vigia::NomeDoSinal(vigia::Sinal())) +
                   " chegou com o commit ja enviado: a execucao foi confirmada");
    }
    return Desfecho::kConfirmado;
  } catch (const RuntimeError& e) {
    if (e.Kind() != ErrorKind::kConnectionLost) throw;
    const std::string& d = e.Description();
    Mensagem(Prioridade::kErro, "a resposta do commit se perdeu (" + d.substr(0, d.find('\n')) +
                                    "); verificando o resultado por outra conexao");
    perdido = e;
  }
  // The commit was sent: from here on a stop request only waits for the
  // truth (bounded by the watcher), so the check's statements must run.
  vigia::ReconheceParada();
  Desfecho desfecho = Desfecho::kIncerto;
  try {
    OpcoesConexao opcoes = M.Opcoes;
    if (opcoes.connect_timeout_s <= 0) opcoes.connect_timeout_s = kConexaoVerificacao;
    opcoes.status_sem_conexao = 6;
    opcoes.status_parada = 6;
    opcoes.sem_conexao = "; " + Incerto(F);
    Connection outra;
    outra.Open(F.StrConexao, opcoes);
    desfecho = Verifica(F, lote, outra);
    // As for every rollback: the row says why the run left nothing.
    if (desfecho == Desfecho::kDesfeito) GravaErro(M, "Processa", perdido, &outra);
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

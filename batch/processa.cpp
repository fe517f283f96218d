#include "batch/processa.h"

#include <cstdio>
#include <optional>
#include <string>

#include "batch/confirmacao.h"
#include "batch/fechamento.h"
#include "batch/lote.h"
#include "batch/ponto_de_teste.h"
#include "batch/relatorio.h"
#include "common/mensagem.h"
#include "data/grava_erro.h"
#include "data/grava_log_sys.h"
#include "data/handler.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"
#include "data/vigia.h"
#include "ledger/inc_plan.h"

namespace kz {
namespace {

constexpr const char* kParametrosInvalidos = "Parametros de Liberação Invalidos !";
constexpr const char* kErroCancelamento = "Erro Cancelamento !";

// Runs a SELECT ... WITH LOCK to its end, so that every row it names is
// locked for the rest of the run; after a lock conflict it runs again.
// `linha` sees each row.
template <class Linha>
void Trava(Modulo1& M, const std::string& sql, Linha&& linha) {
  M.Sql = sql;
  RepeteEmDeadlock([&] {
    RecordSet trava;
    trava.Open(M.Sql, M.Conexao, adOpenForwardOnly);
    for (; !trava.Eof(); trava.MoveNext()) linha(trava);
  });
}

// Takes the run's locks before anything is read or written:
// - the commitments of the run's status: a second run of the same status (an
//   overlapping schedule) waits here for the first; once that one has
//   committed, the lock meets the conflict, runs again, finds nothing of the
//   status and the second run is refused instead of posting every reversal a
//   second time;
// - the balance rows of the cost-of-goods-sold accounts, which every run
//   updates with its first entry and holds until its commit: a run of
//   another status waits here holding only its own commitments, instead of
//   taking statistics or balance rows first and then waiting for rows the
//   first run holds while that one waits for its rows (a deadlock). These are
//   rows the run writes anyway, so the lock needs no privilege the run does
//   not already need.
void TravaExecucao(frmProcesso& F, Lote& lote) {
  Modulo1& M = F.M;
  Trava(M,
        PreparaSql("SELECT CodEpn FROM TB_VDA_CADEPN WHERE STAEPN=? WITH LOCK",
                   {Value(F.StaEpnCanc)}),
        [&](const RecordSet& r) {
          const Value codigo = r.FieldAt(0);
          if (!codigo.IsNull()) lote.travados.insert(codigo.ToLong());
        });
  for (const std::string& conta : {F.CtaEstBai, F.CtaCtoVda}) {
    if (conta.empty()) continue;
    Trava(M,
          PreparaSql("SELECT CodCon FROM TB_CTG_CADPLA WHERE CodEmp=? AND CodCon IN ",
                     {Value(M.EmpCtg)}) +
              ListaDeContas(conta) + " WITH LOCK",
          [](const RecordSet&) {});
  }
  lote.total = lote.travados.size();
}

// The failure path: the error is recorded under "Processa" (committed on its
// own), the run rolled back and the connection closed.
void Desfaz(Modulo1& M, const RuntimeError& e) {
  try {
    GravaErro(M, "Processa", e);
  } catch (const RuntimeError& g) {
    MsgBox("Erro " + std::to_string(e.Number()) + ": " + e.Description());
    MsgBox("Erro ao gravar o erro " + std::to_string(g.Number()) + ": " + g.Description());
  }
  try {
    if (M.Conexao.InTransaction()) M.Conexao.RollbackTrans();
  } catch (const RuntimeError&) {
    // Nothing was committed; closing the attachment undoes the rest.
  }
  M.Conexao.Close();
}

// Puts the report under its name. A run that did not commit and left its
// report out (another run put one there meanwhile) says so; a committed run's
// failure is the caller's to report.
bool Publica(Relatorio& relatorio, bool confirmado) {
  const bool gravado = relatorio.Publica(confirmado);
  if (!gravado && !confirmado) {
    Mensagem(Prioridade::kAviso,
             "o relatorio desta execucao nao foi gravado (" + relatorio.Falha() + ")");
  }
  return gravado;
}

}  // namespace

ResultadoDoLote Processa(frmProcesso& F) {
  Modulo1& M = F.M;
  std::optional<Relatorio> relatorio;
  try {
    relatorio.emplace();
  } catch (const RuntimeError& e) {
    Mensagem(Prioridade::kErro,
             "Erro " + std::to_string(e.Number()) + ": " + e.Description() + "; nada foi feito");
    return {FimDoLote::SemInicio, false};
  }

  // The mark must be negative: 0 means no valid settings, and a positive
  // value would name existing ledger entries to post again.
  if (F.StaEpnCanc >= 0) {
    MsgBox(kParametrosInvalidos);
    return {FimDoLote::Recusado, Publica(*relatorio, false)};
  }

  Lote lote;
  // On a failure the report says which commitment was being cancelled (the
  // code columns stay blank when none was) and claims nothing that was undone.
  auto desfeito = [&] {
    vigia::FimDoProgresso();
    if (lote.atual) {
      relatorio->Linha(*lote.atual, kErroCancelamento);
    } else {
      relatorio->LinhaSemCodigo(kErroCancelamento);
    }
    return ResultadoDoLote{FimDoLote::Desfeito, Publica(*relatorio, false)};
  };
  Desfecho desfecho = Desfecho::kIncerto;
  try {
    M.Conexao.BeginTrans();
    lote.conexao = M.Conexao.AttachmentId();
    lote.transacao = M.Conexao.TransactionId();
    // Through a server the wait for the commit's answer is bounded: a frozen
    // network never hangs the run.
    Mensagem(Prioridade::kInfo,
             "conexao " + std::to_string(lote.conexao) + ", transacao " +
                 std::to_string(lote.transacao) +
                 (M.Conexao.Embedded() ? std::string()
                                       : "; resposta do commit esperada por ate " +
                                             std::to_string(M.Opcoes.commit_timeout_s) + " s"));
    TravaExecucao(F, lote);
    vigia::Progresso(0, lote.total);
    if (!SelecionaEmpenhos(F)) {
      MsgBox(kParametrosInvalidos);
      M.Conexao.RollbackTrans();
      return {FimDoLote::Recusado, Publica(*relatorio, false)};
    }
    CancelaSelecionados(F, lote);
    PontoDeTeste("fechamento");
    FechaLote(F, lote);
    GravaLogSys(M, Value(M.CodUsuario), "VDA", "Cancela",
                "Empenhos de " + std::to_string(F.EpnDe) + " a " + std::to_string(F.EpnAte));
    PontoDeTeste("commit");
    desfecho = Confirma(F, lote);
  } catch (const RunEnded&) {
    // A routine below recorded its error and rolled the run back.
    return desfeito();
  } catch (const Interrompido& i) {
    vigia::ReconheceParada();
    // A cancel request that came as a statement ended must not cancel the
    // stop's own error row.
    M.Conexao.DescartaCancelamento();
    const ResultadoDoLote r = desfeito();
    Desfaz(M, RuntimeError(18, std::string("Execucao interrompida pelo operador (") +
                                   vigia::NomeDoSinal(i.sinal) + "); nada foi gravado"));
    Mensagem(Prioridade::kErro, std::string("interrompido por ") + vigia::NomeDoSinal(i.sinal) +
                                    "; a execucao foi desfeita e pode ser executada de novo");
    return r;
  } catch (const RuntimeError& e) {
    const ResultadoDoLote r = desfeito();
    Desfaz(M, e);
    return r;
  }

  vigia::FimDoProgresso();
  ResultadoDoLote r;
  switch (desfecho) {
    case Desfecho::kConfirmado:
      r.fim = FimDoLote::Confirmado;
      for (const int32_t codigo : lote.cancelados) relatorio->Linha(Value(codigo), "Cancelado !");
      break;
    case Desfecho::kDesfeito:
      r.fim = FimDoLote::Desfeito;
      relatorio->LinhaSemCodigo(kErroCancelamento);
      break;
    case Desfecho::kIncerto:
      r.fim = FimDoLote::Incerto;
      break;
  }
  const bool confirmado = r.fim == FimDoLote::Confirmado;
  r.relatorio_gravado = Publica(*relatorio, confirmado);
  if (!r.relatorio_gravado && confirmado) {
    Mensagem(Prioridade::kErro, "o relatorio " + relatorio->Caminho() +
                                    " nao pode ser gravado por inteiro (" + relatorio->Falha() +
                                    ")");
  }
  if (r.fim == FimDoLote::Confirmado) {
    char tempo[32];
    std::snprintf(tempo, sizeof tempo, "%.1f", vigia::Decorrido());
    Mensagem(Prioridade::kInfo, std::to_string(lote.cancelados.size()) +
                                    " empenhos cancelados em " + tempo +
                                    " s; relatorio: " + relatorio->Caminho());
  }
  return r;
}

}  // namespace kz

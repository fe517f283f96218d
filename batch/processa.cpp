#include "batch/processa.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "batch/canc_epn.h"
#include "batch/relatorio.h"
#include "data/grava_erro.h"
#include "data/grava_log_sys.h"
#include "data/handler.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"
#include "ledger/retorno_em_lote.h"

namespace kz {
namespace {

constexpr const char* kParametrosInvalidos = "Parametros de Liberação Invalidos !";

// A progress line on a terminal, rewritten at most once a second.
class Progresso {
 public:
  Progresso() : tty_(::isatty(STDERR_FILENO) == 1), inicio_(Clock::now()), ultimo_(inicio_) {}

  void Avanca(size_t feitos) {
    if (!tty_) return;
    const auto agora = Clock::now();
    if (agora - ultimo_ < std::chrono::seconds(1)) return;
    ultimo_ = agora;
    std::fprintf(stderr, "\r%zu empenhos cancelados (%.0f/s)   ", feitos, feitos / Segundos());
    std::fflush(stderr);
    escreveu_ = true;
  }

  void Termina() {
    if (escreveu_) std::fputs("\r\n", stderr);
  }

  double Segundos() const { return std::chrono::duration<double>(Clock::now() - inicio_).count(); }

 private:
  using Clock = std::chrono::steady_clock;
  bool tty_;
  bool escreveu_ = false;
  Clock::time_point inicio_;
  Clock::time_point ultimo_;
};

// Runs a SELECT ... WITH LOCK to its end, so that every row it names is
// locked for the rest of the run; after a lock conflict it runs again.
void Trava(Modulo1& M, const std::string& sql) {
  M.Sql = sql;
  RepeteEmDeadlock([&] {
    RecordSet trava;
    trava.Open(M.Sql, M.Conexao, adOpenForwardOnly);
    while (!trava.Eof()) trava.MoveNext();
  });
}

// Takes the run's locks before anything is read or written:
// - the commitments of the run's status: a second run of the same status (an
//   overlapping schedule) waits here for the first; once that one has
//   committed, the lock meets the conflict, runs again, finds nothing of the
//   status and the second run is refused instead of posting every reversal a
//   second time;
// - the company's ledger numbering row, which the first new entry would lock
//   anyway until the commit: a run of another status waits here holding only
//   its own commitments, instead of taking statistics or balance rows first
//   and then waiting for the numbering row while the other run waits for
//   those rows (a deadlock that the unlimited retries would repeat forever).
void TravaExecucao(frmProcesso& F) {
  Modulo1& M = F.M;
  Trava(M, PreparaSql("SELECT CodEpn FROM TB_VDA_CADEPN WHERE STAEPN=? WITH LOCK",
                      {Value(F.StaEpnCanc)}));
  Trava(M, PreparaSql("SELECT NOLANCA FROM TB_CTG_NUMLAN WHERE CODEMP=? WITH LOCK",
                      {Value(M.EmpCtg)}));
}

}  // namespace

FimDoLote Processa(frmProcesso& F) {
  Modulo1& M = F.M;
  Relatorio relatorio;

  // The mark must be negative: 0 means no valid settings, and a positive
  // value would name existing ledger entries to post again.
  if (F.StaEpnCanc >= 0) {
    MsgBox(kParametrosInvalidos);
    return FimDoLote::Recusado;
  }

  Progresso progresso;
  std::vector<int32_t> cancelados;  // reported once the commit has succeeded
  std::optional<Value> atual;       // the commitment being cancelled, if any
  // On a failure the report says which commitment was being cancelled (the
  // code columns stay blank when none was) and claims nothing that was undone.
  auto linha_de_erro = [&] {
    progresso.Termina();
    if (atual) {
      relatorio.Linha(*atual, "Erro Cancelamento !");
    } else {
      relatorio.LinhaSemCodigo("Erro Cancelamento !");
    }
  };
  try {
    M.Conexao.BeginTrans();
    TravaExecucao(F);
    M.Sql = PreparaSql("SELECT * FROM TB_VDA_CADEPN WHERE STAEPN=?", {Value(F.StaEpnCanc)});
    FechaRs(F.RsEpn);
    F.RsEpn.Open(M.Sql, M.Conexao, adOpenKeyset);
    if (F.RsEpn.Eof()) {
      MsgBox(kParametrosInvalidos);
      M.Conexao.RollbackTrans();
      return FimDoLote::Recusado;
    }
    do {
      atual = F.RsEpn.Fields("CodEpn");
      const int32_t codigo = atual->ToLong();
      CancEpn(F, codigo);
      cancelados.push_back(codigo);
      atual.reset();
      progresso.Avanca(cancelados.size());
      F.RsEpn.MoveNext();
    } while (!F.RsEpn.Eof());

    const std::string argumentos =
        " (" + std::to_string(F.StaEpnCanc) + "," + std::to_string(M.CodUsuario) + ")";
    // KZ_RETORNO=lote: the return queue of the run's mark is emptied once, here.
    ConfereRetornoLanca(M, F.StaEpnCanc, EsvaziaRetornoLanca(M, F.StaEpnCanc));
    M.Sql = "EXECUTE PROCEDURE CANCELA_SAIDA_ESTOQUE" + argumentos;
    Passo(M, 1, [&] { M.Conexao.Execute(M.Sql); });
    M.Sql = "EXECUTE PROCEDURE CANCELA_ENTRADA_ESTOQUE" + argumentos;
    Passo(M, 2, [&] { M.Conexao.Execute(M.Sql); });
    M.Sql = PreparaSql("UPDATE TB_VDA_CADEPN SET STAEPN=4 WHERE STAEPN=?", {Value(F.StaEpnCanc)});
    Passo(M, 3, [&] { M.Conexao.Execute(M.Sql); });
    GravaLogSys(M, Value(M.CodUsuario), "VDA", "Cancela",
                "Empenhos de " + std::to_string(F.EpnDe) + " a " + std::to_string(F.EpnAte));
    M.Conexao.CommitTrans();
  } catch (const RunEnded&) {
    // A routine below recorded its error and rolled the run back.
    linha_de_erro();
    return FimDoLote::Desfeito;
  } catch (const RuntimeError& e) {
    linha_de_erro();
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
    return FimDoLote::Desfeito;
  }

  progresso.Termina();
  for (const int32_t codigo : cancelados) relatorio.Linha(Value(codigo), "Cancelado !");
  std::fprintf(stderr,
               "Cancelamento de Empenhos: %zu empenhos cancelados em %.1f s; relatorio: %s\n",
               cancelados.size(), progresso.Segundos(),
               (std::filesystem::current_path() / kArquivoRelatorio).string().c_str());
  return FimDoLote::Confirmado;
}

}  // namespace kz

#include "batch/fechamento.h"

#include <string>

#include "common/mensagem.h"
#include "data/handler.h"
#include "data/prepara_sql.h"
#include "ledger/retorno_em_lote.h"

namespace kz {

void FechaLote(frmProcesso& F, Lote& lote) {
  Modulo1& M = F.M;
  const std::string argumentos =
      " (" + std::to_string(F.StaEpnCanc) + "," + std::to_string(M.CodUsuario) + ")";
  for (int rodada = 1;; ++rodada) {
    M.Conexao.Execute("SAVEPOINT KZ_FECHAMENTO");
    // In the deferred mode, the return queue of every entry posted so far.
    const int64_t apagadas = EsvaziaRetornoLanca(M, F.StaEpnCanc);
    M.Sql = "EXECUTE PROCEDURE CANCELA_SAIDA_ESTOQUE" + argumentos;
    Passo(M, 1, [&] { M.Conexao.Execute(M.Sql); });
    M.Sql = "EXECUTE PROCEDURE CANCELA_ENTRADA_ESTOQUE" + argumentos;
    Passo(M, 2, [&] { M.Conexao.Execute(M.Sql); });
    M.Sql = PreparaSql("UPDATE TB_VDA_CADEPN SET STAEPN=4 WHERE STAEPN=?", {Value(F.StaEpnCanc)});
    int64_t marcados = 0;
    Passo(M, 3, [&] { M.Conexao.Execute(M.Sql, marcados); });

    const auto revertidos = static_cast<int64_t>(lote.cancelados.size());
    if (marcados == revertidos) {
      // Rows a round undid were deleted again by the last one: the queue is
      // checked once.
      ConfereRetornoLanca(M, F.StaEpnCanc, apagadas);
      return;
    }
    // The run's commitments are locked by it, so none can have left the
    // status: fewer rows would mean a commitment reversed but not marked.
    if (marcados < revertidos) {
      Raise(1000, "a atualizacao do status marcou " + std::to_string(marcados) + " de " +
                      std::to_string(revertidos) + " empenhos revertidos");
    }
    if (rodada == kMaxRodadas) {
      Raise(1000, "empenhos continuam recebendo o status " + std::to_string(F.StaEpnCanc) +
                      " durante o fechamento (" + std::to_string(kMaxRodadas) +
                      " rodadas); nada foi gravado, execute de novo");
    }
    Mensagem(Prioridade::kAviso, std::to_string(marcados - revertidos) +
                                     " empenho(s) receberam o status durante a execucao; "
                                     "serao cancelados tambem");
    M.Conexao.Execute("ROLLBACK TO SAVEPOINT KZ_FECHAMENTO");
    if (SelecionaEmpenhos(F)) CancelaSelecionados(F, lote);
  }
}

}  // namespace kz

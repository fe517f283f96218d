#include "reversal/grava_dup.h"

#include <string>

#include "data/grava_log_sys.h"
#include "data/handler.h"
#include "data/prepara_sql.h"

namespace kz {

// Valor is not used: the rows go whatever the payment's amount.
void GravaDup(frmProcesso& F, Currency /*Valor*/) {
  Modulo1& M = F.M;
  RotinaDoLote(M, "GravaDup", [&] {
    // Documents of series "U1" carry a trailing asterisk (exact comparison;
    // Null never matches).
    F.CodTitulo = std::to_string(F.CodEpn);
    if (F.RsEpn.Fields("NfsEpn").Equals("U1")) F.CodTitulo += "*";

    const Value titulo(F.CodTitulo);

    // Instalments first, then the invoice; only those not handed to a bank.
    M.Sql = std::string("DELETE FROM TB_REC_CADDUP ") + "WHERE CLIDUP=? AND CODDUP=? AND BCODUP=0";
    M.Sql = PreparaSql(M.Sql, {F.CliEpn, titulo});
    Passo(M, 1, [&] { M.Conexao.Execute(M.Sql); });

    M.Sql = std::string("DELETE FROM TB_REC_CADFAT ") + "WHERE CLIFAT=? AND CODFAT=? AND BCOFAT=0";
    M.Sql = PreparaSql(M.Sql, {F.CliEpn, titulo});
    Passo(M, 2, [&] { M.Conexao.Execute(M.Sql); });

    // The log names the commitment, never the asterisk.
    GravaLogSys(M, Value(M.CodUsuario), "VDA", "Exclui",
                "Fatura/Duplicatas: " + std::to_string(F.CodEpn));
  });
}

}  // namespace kz

#include "reversal/lanca_cmv.h"

#include <string>

#include "data/handler.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"
#include "ledger/lan_ctg.h"

namespace kz {

std::string SqlCustoDasMercadorias(int32_t CodEpn) {
  return PreparaSql(std::string("SELECT SUM(QTDEPNIT*CTOEPNIT) AS CMV ") + "FROM TB_VDA_CADEPNIT " +
                        "WHERE CODEPNIT=? " + "GROUP BY CODEPNIT",
                    {Value(CodEpn)});
}

void LancaCMV(frmProcesso& F, int32_t CodEpn) {
  Modulo1& M = F.M;
  // No deadlock retry here: LanCtg retries its own statements.
  RotinaDoLote(M, "LancaCMV", [&] {
    M.Sql = SqlCustoDasMercadorias(CodEpn);
    FechaRs(F.RsAux);
    F.RsAux.Open(M.Sql, M.Conexao, adOpenKeyset);

    // No items gives no row (error 3021); items without cost give a Null sum
    // (error 94). Both end the run. A cost of 0 is posted like any other.
    const Currency cmv = F.RsAux.Fields("CMV").ToCurrency();

    // The entry's number is not needed; LanCtg records its own failures.
    LanCtg(M, F.StaEpnCanc, F.CtaEstBai, F.CtaCtoVda, F.DataCanc, cmv, std::to_string(CodEpn),
           "EXTORNO CUSTO MERC VENDIDA", "", "", "");
  });
}

}  // namespace kz

#include "batch/canc_epn.h"

#include <string>

#include "data/handler.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"
#include "ledger/lan_ctg.h"
#include "reversal/estat_venda.h"
#include "reversal/grava_cartao.h"
#include "reversal/grava_chq.h"
#include "reversal/grava_dup.h"
#include "reversal/lanca_cmv.h"

namespace kz {

std::string SqlPagamentos(int32_t CodEpn) {
  return PreparaSql("Select * From EpnPag_Cpg Where EpnPag=?", {Value(CodEpn)});
}

void CancEpn(frmProcesso& F, int32_t CodEpn) {
  Modulo1& M = F.M;
  RotinaDoLote(M, "CancEpn", [&] {
    F.CodEpn = CodEpn;
    F.CliEpn = F.RsEpn.Fields("CliEpn");
    if (F.RsEpn.Fields("TpvEpn").Equals(1)) EstatVenda(F);
    LancaCMV(F, F.CodEpn);

    M.Sql = SqlPagamentos(F.CodEpn);
    FechaRs(F.RsPag);
    F.RsPag.Open(M.Sql, M.Conexao, adOpenKeyset);
    // The first row is read without an end test: a commitment without
    // payment rows fails here (no current row) and the run is undone.
    do {
      const int16_t dup = F.RsPag.Fields("DupCpg").ToInteger();
      const std::string debito = F.RsPag.Fields("DebCpg").ToText();
      const std::string credito = F.RsPag.Fields("CreCpg").ToText();
      const Currency valor = F.RsPag.Fields("ValPag").ToCurrency();
      const std::string condicao = F.RsPag.Fields("NomCpg").ToText();
      // The reversal swaps the payment condition's accounts.
      LanCtg(M, F.StaEpnCanc, credito, debito, F.DataCanc, valor, std::to_string(F.CodEpn),
             "CANCELAMENTO DE EMPENHO", condicao, "", "");
      switch (dup) {
        case 1:
          GravaDup(F, F.RsPag.Fields("ValPag").ToCurrency());
          break;
        case 2:
          GravaCartao(F, F.RsPag.Fields("ValPag").ToCurrency());
          break;
        case 3:
          GravaChq(F, F.RsPag.Fields("ValPag").ToCurrency());
          break;
        default:
          break;  // no receivable to reverse
      }
      F.RsPag.MoveNext();
    } while (!F.RsPag.Eof());
  });
}

}  // namespace kz

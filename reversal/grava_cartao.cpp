#include "reversal/grava_cartao.h"

#include <string>

#include "data/grava_log_sys.h"
#include "data/handler.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"

namespace kz {

std::string SqlConvenio(int32_t convenio) {
  // Built by concatenation: the agreement code goes in as plain digits.
  return "Select * From Tb_Vda_CadConv Where CodConv=" + std::to_string(convenio);
}

void GravaCartao(frmProcesso& F, Currency Valor) {
  Modulo1& M = F.M;
  RotinaDoLote(M, "GravaCartao", [&] {
    const int32_t convenio = F.RsPag.Fields("CvnCpg").ToLong();

    FechaRs(F.RsConv);
    F.RsConv.Open(SqlConvenio(convenio), M.Conexao);

    // Agreements due on the day keep one invoice per day, the others one per
    // month; a missing VencConv counts as monthly.
    F.CodTitulo = F.RsConv.Fields("VencConv").Equals(0) ? F.DataCanc.DdMmYyyyDashed()
                                                        : F.DataCanc.MmYyyyDashed();

    // The card company keeps DescConv percent. The net value is computed on
    // the discount's digits as the database holds them (2.00004 stays
    // 2.00004) and rounded once, to four decimals, not to cents.
    const Value::Exato desconto = F.RsConv.Fields("DescConv").ToExato();
    const Currency ValorLiquido = Currency::MenosPorcento(Valor, desconto.unscaled, desconto.scale);

    const Value cliente(convenio);
    const Value titulo(F.CodTitulo);

    M.Sql = std::string(" UPDATE TB_REC_CADFAT SET VALFAT=VALFAT - (?) ") +
            " WHERE CLIFAT=? AND CODFAT=?" + " AND BcoFat='0' AND AgcFat='0' AND ConFat='0'";
    M.Sql = PreparaSql(M.Sql, {Value(ValorLiquido), cliente, titulo});
    Passo(M, 1, [&] { M.Conexao.Execute(M.Sql); });

    M.Sql = std::string(" UPDATE TB_REC_CADDUP SET VALDUP=VALDUP - (?) ") +
            " WHERE CLIDUP=? AND CODDUP=?" +
            " AND BcoDup='0' AND AgcDup='0' AND ConDup='0' AND NUMPAR=1";
    M.Sql = PreparaSql(M.Sql, {Value(ValorLiquido), cliente, titulo});
    Passo(M, 2, [&] { M.Conexao.Execute(M.Sql); });

    GravaLogSys(M, Value(M.CodUsuario), "VDA", "Altera",
                "Fatura Cartao/Empenho: " + F.CodTitulo + "/" + std::to_string(F.CodEpn));
  });
}

}  // namespace kz

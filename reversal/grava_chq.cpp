#include "reversal/grava_chq.h"

#include <string>
#include <vector>

#include "data/grava_log_sys.h"
#include "data/handler.h"
#include "data/prepara_sql.h"

namespace kz {

// Valor is not used: the cheque's keys alone select its rows.
void GravaChq(frmProcesso& F, Currency /*Valor*/) {
  Modulo1& M = F.M;
  RotinaDoLote(M, "GravaChq", [&] {
    // A Null cheque number, bank or agency fails here (error 94).
    const std::string cheque = F.RsPag.Fields("ChqPag").ToText();
    const std::string banco = F.RsPag.Fields("BcoPag").ToText();
    const std::string agencia = F.RsPag.Fields("AgcPag").ToText();

    // The cheque was registered with the commitment code in the account
    // column, so the code is compared as quoted text.
    const std::vector<Value> chaves = {F.CliEpn, Value::Verbatim(cheque), Value::Verbatim(banco),
                                       Value::Verbatim(agencia),
                                       Value::Verbatim(std::to_string(F.CodEpn))};

    M.Sql = std::string("DELETE FROM TB_REC_CADDUP ") +
            "WHERE CLIDUP=? AND CODDUP=? AND BCODUP=? AND AGCDUP=? AND CONDUP=?";
    M.Sql = PreparaSql(M.Sql, chaves);
    Passo(M, 1, [&] { M.Conexao.Execute(M.Sql); });

    M.Sql = std::string("DELETE FROM TB_REC_CADFAT ") +
            "WHERE CLIFAT=? AND CODFAT=? AND BCOFAT=? AND AGCFAT=? AND CONFAT=?";
    M.Sql = PreparaSql(M.Sql, chaves);
    Passo(M, 2, [&] { M.Conexao.Execute(M.Sql); });

    GravaLogSys(M, Value(M.CodUsuario), "VDA", "Exclui",
                "Cheque/Empenho:" + cheque + "/" + std::to_string(F.CodEpn));
  });
}

}  // namespace kz

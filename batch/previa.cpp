#include "batch/previa.h"

#include <cstdio>
#include <string>

#include "data/grava_erro.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"

namespace kz {
namespace {

std::string Dinheiro(const Value& v) { return v.IsNull() ? "0" : v.ToCurrency().Display(); }

const char* Especie(const Value& dup) {
  if (dup.Equals(1)) return "duplicatas";
  if (dup.Equals(2)) return "cartao";
  if (dup.Equals(3)) return "cheque";
  return "sem titulo a receber";
}

}  // namespace

FimDaPrevia Previa(frmProcesso& F) {
  Modulo1& M = F.M;
  if (F.StaEpnCanc >= 0) {
    MsgBox("Parametros de Liberação Invalidos !");
    return FimDaPrevia::kRecusada;
  }
  const Value status(F.StaEpnCanc);
  M.Conexao.BeginTrans(ModoTransacao::kLeitura);
  RecordSet rs;
  rs.Open(PreparaSql("SELECT COUNT(*), SUM(CASE WHEN TPVEPN=1 THEN 1 ELSE 0 END) "
                     "FROM TB_VDA_CADEPN WHERE STAEPN=?",
                     {status}),
          M.Conexao);
  const int32_t empenhos = rs.FieldAt(0).ToLong();
  const int32_t estatistica = rs.FieldAt(1).IsNull() ? 0 : rs.FieldAt(1).ToLong();
  rs.Close();
  std::printf("status %d: %d empenhos a cancelar (%d com estatistica de vendas)\n", F.StaEpnCanc,
              empenhos, estatistica);
  if (empenhos == 0) {
    M.Conexao.RollbackTrans();
    MsgBox("Parametros de Liberação Invalidos !");
    return FimDaPrevia::kRecusada;
  }

  int32_t pagamentos = 0;
  rs.Open(PreparaSql("SELECT P.DUPCPG, COUNT(*), SUM(P.VALPAG) FROM EPNPAG_CPG P "
                     "JOIN TB_VDA_CADEPN E ON E.CODEPN = P.EPNPAG WHERE E.STAEPN=? "
                     "GROUP BY P.DUPCPG ORDER BY P.DUPCPG",
                     {status}),
          M.Conexao);
  for (; !rs.Eof(); rs.MoveNext()) {
    const int32_t linhas = rs.FieldAt(1).ToLong();
    pagamentos += linhas;
    std::printf("pagamentos %s: %d, total %s\n", Especie(rs.FieldAt(0)), linhas,
                Dinheiro(rs.FieldAt(2)).c_str());
  }
  rs.Close();
  rs.Open(PreparaSql("SELECT SUM(I.QTDEPNIT*I.CTOEPNIT) FROM TB_VDA_CADEPNIT I "
                     "JOIN TB_VDA_CADEPN E ON E.CODEPN = I.CODEPNIT WHERE E.STAEPN=?",
                     {status}),
          M.Conexao);
  std::printf("custo das mercadorias a estornar: %s\n", Dinheiro(rs.FieldAt(0)).c_str());
  rs.Close();
  // One cost entry per commitment and one reversal per payment row.
  std::printf("lancamentos contabeis a gerar: %d\n", empenhos + pagamentos);
  std::fflush(stdout);
  M.Conexao.RollbackTrans();
  return FimDaPrevia::kSeguiria;
}

}  // namespace kz

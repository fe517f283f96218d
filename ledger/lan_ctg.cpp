#include "ledger/lan_ctg.h"

#include <vector>

#include "data/grava_erro.h"
#include "data/grava_log_sys.h"
#include "data/handler.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"
#include "ledger/inc_plan.h"
#include "ledger/trata_retorno_lanca.h"

namespace kz {
namespace {

constexpr const char* kInsereCabeca = "INSERT INTO TB_CTG_CADLAN ";
constexpr const char* kInsereColunas =
    "(CodEmp,NumLan,CtaDeb,CtaCre,DatLan,MesLan,ValLan,DocLan,IntLan,HisLan1,Hislan2,HisLan3,"
    "Hislan4,DatHor,UsuLan)";
constexpr const char* kValoresNovo =
    " VALUES (?,(SELECT NOLANCA+1 FROM TB_CTG_NUMLAN WHERE CODEMP=?),?,?,?,?,?,?,?,?,?,?,?,?,?)";
constexpr const char* kValoresRelancamento = " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)";

// Markers of the two inserts, the steps a lock conflict goes back to.
constexpr int16_t kPassoRelancamento = 1;
constexpr int16_t kPassoNovo = 2;

// A number taken by another poster is resolved by one more try; this many
// duplicates in a row mean the numbering row is behind the entries already
// written, which no retry mends.
constexpr int kMaxChaveDuplicada = 100;

// "Lnc: 125 [1.1.01] [3.1.02]": the number with a sign position in front.
std::string TextoLancamento(int32_t numero, const std::string& debito, const std::string& credito) {
  return std::string("Lnc:") + (numero >= 0 ? " " : "") + std::to_string(numero) + " [" + debito +
         "] [" + credito + "]";
}

// Runs the new entry's insert held in Sql. The server computes the number
// inside the insert from NOLANCA, so each run reads it anew: a lock conflict
// waits for the other poster and runs again (Retentativa); a duplicate number
// runs again, and the kMaxChaveDuplicada-th duplicate in a row (a lock
// conflict starts the count again) goes to the caller.
void InsereNovo(Modulo1& M) {
  Retentativa conflitos;
  int duplicadas = 0;
  for (;;) {
    M.PontoRetorno = kPassoNovo;
    try {
      M.Conexao.Execute(M.Sql);
      return;
    } catch (const RuntimeError& e) {
      if (IsUniqueKey(e)) {
        if (++duplicadas >= kMaxChaveDuplicada) throw;
      } else if (conflitos.DeveRepetir(e)) {
        duplicadas = 0;
      } else {
        throw;
      }
    }
  }
}

}  // namespace

int32_t LanCtg(Modulo1& M, int32_t numero, const std::string& debito, const std::string& credito,
               const DateTime& data, Currency valor, const std::string& documento,
               const std::string& historico1, const std::string& historico2,
               const std::string& historico3, const std::string& historico4) {
  // Only the two inserts are run again (inside InsereNovo and Passo). A
  // conflict or duplicate of any other step is recorded like every other
  // error: running an insert again there would post the totals twice.
  try {
    RecordSet rs;
    const std::string hora = DateTime::Now().MmDdYyyyHhMmSs();
    const auto mes = static_cast<int16_t>(data.month);
    // The 15 values of either insert; the second is the company for the new
    // entry's numbering sub-select, or the number itself on re-post. Accounts,
    // document and history lines are stored as given (verbatim texts).
    auto valores = [&](const Value& segundo) {
      return std::vector<Value>{Value(M.EmpCtg),
                                segundo,
                                Value::Verbatim(debito),
                                Value::Verbatim(credito),
                                Value(data),
                                Value(mes),
                                Value(valor),
                                Value::Verbatim(documento),
                                Value(numero),
                                Value::Verbatim(historico1),
                                Value::Verbatim(historico2),
                                Value::Verbatim(historico3),
                                Value::Verbatim(historico4),
                                Value::Verbatim(hora),
                                Value(M.CodUsuario)};
    };

    if (numero < 0) {
      M.Sql = std::string(kInsereCabeca) + kInsereColunas + kValoresNovo;
      M.Sql = PreparaSql(M.Sql, valores(Value(M.EmpCtg)));
      InsereNovo(M);
      // A failed insert is undone by the server with its queue row, so an
      // insert run again until it succeeds counts once.
      if (M.RetornoEmLote) ++M.LancamentosNovos;
      IncPlan(M, debito, valor, "D", mes);
      IncPlan(M, credito, valor, "C", mes);
      // The server's number is only read below: the log names entry 0.
      GravaLogSys(M, Value(M.CodUsuario), "VDA", "Cadastra", TextoLancamento(0, debito, credito));
      // In the deferred mode the queue row stays until the run empties the
      // queue of its mark at once; the number is not read back here.
      return M.RetornoEmLote ? 0 : TrataRetornoLanca(M, numero);
    }

    const int32_t lancamento = numero;
    M.Sql = PreparaSql("SELECT * FROM TB_CTG_CADLAN WHERE NUMLAN=? AND CODEMP=?",
                       {Value(lancamento), Value(M.EmpCtg)});
    FechaRs(rs);
    rs.Open(M.Sql, M.Conexao, adOpenKeyset);
    // The old entry leaves the totals by adding its amount to the opposite
    // sides. A missing entry fails here (no current row), before any change.
    auto tira = [&](const char* conta, const char* lado) {
      const std::string codigo = rs.Fields(conta).ToText();
      const Currency antigo = rs.Fields("ValLan").ToCurrency();
      const auto mes_antigo = static_cast<int16_t>(rs.Fields("DatLan").ToDate().month);
      IncPlan(M, codigo, antigo, lado, mes_antigo);
    };
    tira("CtaDeb", "C");
    tira("CtaCre", "D");
    M.Conexao.Execute(PreparaSql("Delete From Tb_Ctg_CadLan Where NumLan=? And CodEmp=?",
                                 {Value(lancamento), Value(M.EmpCtg)}));

    M.Sql = std::string(kInsereCabeca) + kInsereColunas + kValoresRelancamento;
    M.Sql = PreparaSql(M.Sql, valores(Value(lancamento)));
    Passo(M, kPassoRelancamento, [&] { M.Conexao.Execute(M.Sql); });
    IncPlan(M, debito, valor, "D", mes);
    IncPlan(M, credito, valor, "C", mes);
    GravaLogSys(M, Value(M.CodUsuario), "VDA", "Atualiza",
                TextoLancamento(lancamento, debito, credito));
    return lancamento;
  } catch (const RuntimeError& e) {
    // The result is only assigned in the last step, so a failure returns 0.
    GravaErro(M, "LanCtg", e);
    if (e.EndsRun()) EncerraExecucao(M);
    return 0;
  }
}

}  // namespace kz

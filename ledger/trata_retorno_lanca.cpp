#include "ledger/trata_retorno_lanca.h"

#include "data/prepara_sql.h"
#include "data/record_set.h"

namespace kz {

int32_t TrataRetornoLanca(Modulo1& M, int32_t marca) {
  // The rendered statements go straight to the server; Sql keeps the
  // caller's last statement.
  const std::string consulta =
      PreparaSql("Select Lancamento From RetornoLanca Where Marca=?", {Value(marca)});
  const std::string remocao = PreparaSql("Delete From RetornoLanca Where Marca=?", {Value(marca)});
  int32_t numero = 0;
  if (M.Conexao.Gravando()) {
    // Sent later in one block, which fails as this would without the row:
    // the number itself is not known until then, and no caller uses it.
    M.Conexao.GravaExigeLinha(consulta);
  } else {
    RecordSet rs;
    FechaRs(rs);
    rs.Open(consulta, M.Conexao, adOpenKeyset);
    // No order is asked for: with several rows of the mark the first one counts.
    numero = rs.Fields("Lancamento").ToLong();
  }
  M.Conexao.Execute(remocao);
  return numero;
}

}  // namespace kz

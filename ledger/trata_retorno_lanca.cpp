#include "ledger/trata_retorno_lanca.h"

#include "data/prepara_sql.h"
#include "data/record_set.h"

namespace kz {

int32_t TrataRetornoLanca(Modulo1& M, int32_t marca) {
  RecordSet rs;
  FechaRs(rs);
  // The rendered statements go straight to the server; Sql keeps the
  // caller's last statement.
  rs.Open(PreparaSql("Select Lancamento From RetornoLanca Where Marca=?", {Value(marca)}),
          M.Conexao, adOpenKeyset);
  // No order is asked for: with several rows of the mark the first one counts.
  const int32_t numero = rs.Fields("Lancamento").ToLong();
  M.Conexao.Execute(PreparaSql("Delete From RetornoLanca Where Marca=?", {Value(marca)}));
  return numero;
}

}  // namespace kz

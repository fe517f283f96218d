#include "reversal/estat_venda.h"

#include <cstdint>
#include <string>

#include "data/handler.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"

namespace kz {
namespace {

// 0 − v as the host run time computes it: the result keeps the type of the
// quantity (Currency stays exact), an integer that no longer fits widens,
// Null stays Null.
Value Negativo(const Value& v) {
  switch (v.GetType()) {
    case Value::Type::Null:
      return v;
    case Value::Type::Currency:
      return Value(-v.ToCurrency());
    case Value::Type::Integer:
    case Value::Type::Long: {
      const int64_t n = -static_cast<int64_t>(v.ToLong());
      if (n >= INT32_MIN && n <= INT32_MAX) return Value(static_cast<int32_t>(n));
      return Value(static_cast<double>(n));
    }
    default:
      return Value(0.0 - v.ToDouble());
  }
}

}  // namespace

std::string SqlSomaPorProduto(int32_t CodEpn) {
  return std::string(" SELECT PROEPNIT,SUM(QTDEPNIT) as SomaPro ") + " FROM TB_VDA_CADEPNIT" +
         " WHERE CODEPNIT=" + std::to_string(CodEpn) + " GROUP BY PROEPNIT";
}

void EstatVenda(frmProcesso& F) {
  Modulo1& M = F.M;
  RotinaDoLote(M, "EstatVenda", [&] {
    const Value mes(static_cast<int16_t>(F.DataCanc.month));
    const Value ano(static_cast<int16_t>(F.DataCanc.year));

    // One row per product: the commitment's quantities summed by the server.
    M.Sql = SqlSomaPorProduto(F.CodEpn);
    FechaRs(F.RsEstat);
    F.RsEstat.Open(M.Sql, M.Conexao, adOpenForwardOnly);

    // The first row is read without an end test: a commitment without items
    // fails here (no current row) and the run is undone.
    do {
      const Value soma = F.RsEstat.Fields("SomaPro");
      const Value produto = F.RsEstat.Fields("ProEpnIt");

      // The month number completes the column name on both sides.
      M.Sql = std::string(" UPDATE TB_VDA_VENPRO SET MES? = MES? - (?) ") +
              " WHERE PROVEN=? AND ANOVEN=?";
      M.Sql = PreparaSql(M.Sql, {mes, mes, soma, produto, ano});
      // No statistics row for the product and year: start one at minus the
      // cancelled quantity; the other months keep their defaults.
      AtualizaSenaoInsere(M, [&] {
        return PreparaSql("INSERT INTO TB_VDA_VENPRO (PROVEN,ANOVEN,MES?) VALUES (?,?,?)",
                          {mes, produto, ano, Negativo(soma)});
      });
      F.RsEstat.MoveNext();
    } while (!F.RsEstat.Eof());
  });
}

}  // namespace kz

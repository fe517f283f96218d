#include "ledger/retorno_em_lote.h"

#include "data/grava_erro.h"
#include "data/handler.h"
#include "data/prepara_sql.h"
#include "data/record_set.h"

namespace kz {
namespace {

std::string DeleteDaMarca(int32_t marca) {
  return PreparaSql("Delete From RetornoLanca Where Marca=?", {Value(marca)});
}

}  // namespace

bool AdmiteRetornoEmLote(Modulo1& M) {
  // Unique indexes with no segment other than MARCA: rows of one mark would
  // collide on them. One without segments is on an expression.
  RecordSet rs;
  rs.Open(
      "SELECT TRIM(I.RDB$INDEX_NAME) AS NOME FROM RDB$INDICES I "
      "WHERE I.RDB$RELATION_NAME = 'RETORNOLANCA' AND I.RDB$UNIQUE_FLAG = 1 "
      "AND COALESCE(I.RDB$INDEX_INACTIVE, 0) = 0 AND NOT EXISTS (SELECT 1 FROM "
      "RDB$INDEX_SEGMENTS S WHERE S.RDB$INDEX_NAME = I.RDB$INDEX_NAME AND "
      "TRIM(S.RDB$FIELD_NAME) <> 'MARCA')",
      M.Conexao);
  if (rs.Eof()) return true;
  MsgBox("KZ_RETORNO=lote desativado: a chave única " + rs.Fields("NOME").ToText() +
         " de RetornoLanca admite uma só linha por marca; o número de cada lançamento é lido e "
         "apagado um a um");
  return false;
}

int64_t EsvaziaRetornoLanca(Modulo1& M, int32_t marca) {
  if (!M.RetornoEmLote) return 0;
  int64_t apagadas = 0;
  M.Sql = DeleteDaMarca(marca);
  RepeteEmDeadlock([&] { M.Conexao.Execute(M.Sql, apagadas); });
  return apagadas;
}

void ConfereRetornoLanca(Modulo1& M, int32_t marca, int64_t apagadas) {
  if (!M.RetornoEmLote || apagadas >= M.LancamentosNovos) return;
  const std::string anterior = M.Sql;
  M.Sql = DeleteDaMarca(marca);
  const RuntimeError sem_linha(err::kNoCurrentRecord, StandardDescription(err::kNoCurrentRecord));
  for (int64_t i = apagadas; i < M.LancamentosNovos; ++i) GravaErro(M, "LanCtg", sem_linha);
  M.Sql = anterior;
}

}  // namespace kz

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

bool AdmiteRetornoEmLote(Modulo1& M, int32_t marca) {
  // The first column of the first row of `sql`; empty when there is none.
  const auto primeiro = [&](const std::string& sql) {
    RecordSet rs;
    rs.Open(sql, M.Conexao);
    return rs.Eof() ? std::string() : rs.FieldAt(0).ToText();
  };
  std::string motivo;
  // Unique indexes with no segment other than MARCA: rows of one mark would
  // collide on them. One without segments is on an expression.
  if (const std::string chave = primeiro(
          "SELECT TRIM(I.RDB$INDEX_NAME) FROM RDB$INDICES I WHERE I.RDB$RELATION_NAME = "
          "'RETORNOLANCA' AND I.RDB$UNIQUE_FLAG = 1 AND COALESCE(I.RDB$INDEX_INACTIVE, 0) = 0 AND "
          "NOT EXISTS (SELECT 1 FROM RDB$INDEX_SEGMENTS S WHERE S.RDB$INDEX_NAME = "
          "I.RDB$INDEX_NAME AND TRIM(S.RDB$FIELD_NAME) <> 'MARCA')");
      !chave.empty()) {
    motivo = "a chave única " + chave + " de RetornoLanca admite uma só linha por marca";
  } else if (const std::string gatilho = primeiro(
                 "SELECT FIRST 1 TRIM(RDB$TRIGGER_NAME) FROM RDB$TRIGGERS WHERE "
                 "RDB$RELATION_NAME = 'RETORNOLANCA' AND COALESCE(RDB$TRIGGER_INACTIVE, 0) = 0 "
                 "AND COALESCE(RDB$SYSTEM_FLAG, 0) = 0");
             !gatilho.empty()) {
    motivo = "RetornoLanca tem o gatilho " + gatilho + ", que pode recusar ou mudar linhas";
  } else if (!primeiro(PreparaSql("SELECT FIRST 1 Marca FROM RetornoLanca WHERE Marca=?",
                                  {Value(marca)}))
                  .empty()) {
    motivo = "RetornoLanca ja tem linhas da marca " + std::to_string(marca) +
             ", deixadas por outros programas";
  } else {
    return true;
  }
  MsgBox("KZ_RETORNO=lote desativado: " + motivo +
         "; o número de cada lançamento é lido e apagado um a um");
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

// The data layer against real databases: value mapping, statements with
// their length, and the two logs.
#include <gtest/gtest.h>

#include <tuple>

#include "data/grava_erro.h"
#include "data/grava_log_sys.h"
#include "data/handler.h"
#include "data/record_set.h"
#include "tests/support/fixture.h"
#include "tests/unit/outcome.h"

namespace kz::test {
namespace {

// Catches a column type mapped to the wrong kind of value, NUMERIC(18,4)
// going through a double, CHAR padding trimmed, and a read with no current
// row (or of an unknown column) that does not fail as the routines expect.
TEST(DataLayer, MapsEveryColumnTypeToItsValue) {
  TestDb db(false,
            "CREATE TABLE T (S SMALLINT, I INTEGER, B BIGINT, N NUMERIC(18,4), N2 NUMERIC(15,2), "
            "N6 NUMERIC(18,6), D DOUBLE PRECISION, DT DATE, TS TIMESTAMP, C CHAR(5), "
            "V VARCHAR(10), X INTEGER); INSERT INTO T VALUES (-7, 70000, 5000000000, "
            "12345678901234.5678, -0.25, 1.123456, 2.5, '12/25/2017', '12/05/2026 14:03:09', 'ab', "
            "'O''Brien', NULL)");
  RecordSet rs;
  rs.Open("SELECT * FROM T", db.Conn());
  using T = Value::Type;
  const std::tuple<const char*, T, const char*> cases[] = {
      // clang-format off
      {"s", T::Integer, "-7"}, {"I", T::Long, "70000"}, {"B", T::Double, "5000000000"},
      {"N", T::Currency, "12345678901234,5678"}, {"N2", T::Currency, "-0,25"},
      {"N6", T::Double, "1,123456"}, {"D", T::Double, "2,5"}, {"DT", T::Date, "25/12/2017"},
      {"TS", T::Date, "05/12/2026 14:03:09"}, {"C", T::Text, "ab   "}, {"V", T::Text, "O'Brien"},
      // clang-format on
  };
  for (const auto& [column, type, shown] : cases) {
    EXPECT_EQ(rs.Fields(column).GetType(), type) << column;
    EXPECT_EQ(rs.Fields(column).DisplayText(), shown);
  }
  EXPECT_TRUE(rs.Fields("X").IsNull());
  EXPECT_EQ(Outcome([&] { return rs.Fields("NOPE").ToText(); }), "#3265");
  rs.MoveNext();
  ASSERT_TRUE(rs.Eof());
  EXPECT_EQ(Outcome([&] { return rs.Fields("I").ToText(); }), "#3021");
  // Statements go with their length: a NUL byte in a literal is a character.
  using namespace std::string_literals;
  db.Conn().Execute("UPDATE T SET V = 'A\0B'"s);
  EXPECT_EQ(db.Select("SELECT OCTET_LENGTH(V) FROM T WHERE V = 'A\0B'"s), Rows{"3"});
}

// The two logs. Catches the host name not cut to 20 or read as Null, the
// server clock's text not passed as written (month first), a text not stored
// as given; the error row written inside the run's transaction (the rollback
// would erase it), a wrong column, a description not cut at 230, a statement
// not cut at 250, the cause missing from the operator's line, a transaction
// left open, and anything of the run surviving the rollback.
TEST(DataLayer, ActivityRowsAndTheErrorRowThatSurvivesTheRollback) {
  TestDb db(false, Seed("basics") + "CREATE EXCEPTION EX_LONGA '" + std::string(300, 'x') + "'");
  Modulo1 M;
  M.Conexao.Open(db.ConnText());
  M.CodUsuario = 12;
  M.DataHoraSistema = "12/05/2026 14:03:09";
  M.NomeMaquina = "estacao-de-trabalho-0123456";  // 27 characters
  M.Conexao.BeginTrans();
  GravaLogSys(M, Value(int32_t{12}), "VDA", "Exclui", "Cheque/Empenho:O'Brien/7");
  M.NomeMaquina = "null";
  GravaLogSys(M, Value(int32_t{12}), "VDA", "Cancela", "12/05/2026");
  M.Conexao.CommitTrans();
  EXPECT_EQ(db.Select("SELECT USULOG, SISLOG, OPELOG, TABLOG, DATLOG, MAQLOG FROM TB_GER_LOGSYS "
                      "ORDER BY SEQLOG"),
            (Rows{"12|VDA|Exclui|Cheque/Empenho:O'Brien/7|2026-12-05 14:03:09|estacao-de-trabalho-",
                  "12|VDA|Cancela|12/05/2026|2026-12-05 14:03:09|null"}));

  M.NomeMaquina = "estacao-de-trabalho-0123456";
  M.Conexao.BeginTrans();
  M.Conexao.Execute("UPDATE TB_CTG_NUMLAN SET NOLANCA = 999");
  M.Sql = std::string(300, 's');
  testing::internal::CaptureStderr();
  EXPECT_THROW(
      RotinaDoLote(M, "GravaDup",
                   [&] { M.Conexao.Execute("EXECUTE BLOCK AS BEGIN EXCEPTION EX_LONGA; END"); }),
      RunEnded);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cancelamento de Empenhos: GravaDup: erro -836: exception 1\n"
            "Cancelamento de Empenhos: Erro de Sistema. Por favor Comunique ao Administrador !\n");
  EXPECT_FALSE(M.Conexao.InTransaction());
  EXPECT_EQ(M.ErrosGravados, 1);
  EXPECT_EQ(
      db.Select("SELECT SEQUENCIA, NOME_DA_MAQUINA, CODIGO_DO_USUARIO, SISTEMA, CODIGO_ROTINA, "
                "NOME_ROTINA, PROCEDIMENTO, NUMERO_DA_LINHA, CODIGO_SQL, REFERENCIA_DLL, "
                "SUBSTRING(DESCRICAO_DO_ERRO FROM 1 FOR 5), CHAR_LENGTH(DESCRICAO_DO_ERRO), "
                "IIF(POSITION('-xxx' IN DESCRICAO_DO_ERRO) > 0, 1, 0), (SELECT NOLANCA FROM "
                "TB_CTG_NUMLAN WHERE CODEMP = 1) FROM TB_GER_ERRQUBO"),
      Rows{"1|estacao-de-trabalho-0123456|12|VDA|C01|CANCELAMENTO DE EMPENHOS|GravaDup|0|" +
           std::string(250, 's') + "|0|-836-|235|1|100"});
}

}  // namespace
}  // namespace kz::test

// The data layer against real databases: value mapping, cursors, counts,
// transactions, the server's conflict texts, and the two logs.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

#include "data/grava_erro.h"
#include "data/grava_log_sys.h"
#include "data/handler.h"
#include "data/record_set.h"
#include "tests/support/test_db.h"

namespace kz {
namespace {

using test::TestDb;
using Rows = std::vector<std::vector<std::string>>;

// "number-description" of the run-time error `f` raises; "" when none.
template <class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const RuntimeError& e) {
    return std::to_string(e.Number()) + "-" + e.Description();
  }
  return "";
}

// Catches a column type mapped to the wrong kind of value, NUMERIC(18,4)
// going through a double, CHAR padding trimmed, and a read with no current
// row (or of an unknown column) that does not fail as the routines expect.
TEST(DataLayer, MapsEveryColumnTypeToItsValue) {
  TestDb db;
  db.Exec(
      "CREATE TABLE T (S SMALLINT, I INTEGER, B BIGINT, N NUMERIC(18,4), N2 NUMERIC(15,2), "
      "N6 NUMERIC(18,6), D DOUBLE PRECISION, DT DATE, TS TIMESTAMP, C CHAR(5), V VARCHAR(10), "
      "X INTEGER)");
  db.Exec(
      "INSERT INTO T VALUES (-7, 70000, 5000000000, 12345678901234.5678, -0.25, 1.123456, 2.5, "
      "'12/25/2017', '12/05/2026 14:03:09', 'ab', 'O''Brien', NULL)");
  RecordSet rs;
  rs.Open("SELECT * FROM T", db.Conn());
  using T = Value::Type;
  const std::tuple<const char*, T, const char*> cases[] = {
      {"s", T::Integer, "-7"},
      {"I", T::Long, "70000"},
      {"B", T::Double, "5000000000"},
      {"N", T::Currency, "12345678901234,5678"},
      {"N2", T::Currency, "-0,25"},
      {"N6", T::Double, "1,123456"},
      {"D", T::Double, "2,5"},
      {"DT", T::Date, "25/12/2017"},
      {"TS", T::Date, "05/12/2026 14:03:09"},
      {"C", T::Text, "ab   "},
      {"V", T::Text, "O'Brien"},
  };
  for (const auto& [column, type, shown] : cases) {
    EXPECT_EQ(rs.Fields(column).GetType(), type) << column;
    EXPECT_EQ(rs.Fields(column).DisplayText(), shown);
  }
  EXPECT_TRUE(rs.Fields("X").IsNull());
  EXPECT_NE(ErrorOf([&] { rs.Fields("NOPE"); }).find("NOPE"), std::string::npos);
  rs.MoveNext();
  ASSERT_TRUE(rs.Eof());
  EXPECT_EQ(ErrorOf([&] { rs.Fields("I"); }).rfind("3021-", 0), 0u);
}

// Catches a cursor that breaks when other statements run in its transaction,
// a wrong changed-row count (0 included), a statement outside a transaction
// left uncommitted, and a rollback that does not undo.
TEST(DataLayer, CursorsCountsAndTransactions) {
  TestDb db;
  db.Exec("CREATE TABLE T (K INTEGER NOT NULL PRIMARY KEY, V INTEGER)");
  db.Exec(
      "EXECUTE BLOCK AS DECLARE K INTEGER = 1; BEGIN WHILE (K <= 500) DO BEGIN "
      "INSERT INTO T VALUES (:K, 0); K = K + 1; END END");
  Connection& c = db.Conn();
  c.BeginTrans();
  RecordSet rs;
  rs.Open("SELECT K FROM T ORDER BY K", c, adOpenKeyset);
  for (; !rs.Eof(); rs.MoveNext()) {
    c.Execute("UPDATE T SET V = V + 1 WHERE K = " + rs.Fields("K").DisplayText());
  }
  int64_t changed = -1;
  c.Execute("UPDATE T SET V = V + 1 WHERE K <= 10", changed);
  EXPECT_EQ(changed, 10);
  c.Execute("DELETE FROM T WHERE K < 0", changed);
  EXPECT_EQ(changed, 0);
  c.CommitTrans();
  EXPECT_EQ(rs.State(), 0);                  // a commit closes the cursors of its transaction
  c.Execute("INSERT INTO T VALUES (0, 5)");  // a short transaction of its own
  c.BeginTrans();
  c.Execute("DELETE FROM T");
  c.RollbackTrans();
  EXPECT_EQ(db.Rows("SELECT COUNT(*), SUM(V) FROM T"), (Rows{{"501", "515"}}));
}

// Catches a server location not opened through the server, and a password
// shown in the error text.
TEST(DataLayer, ServerConnectionWorksAndErrorsNeverShowThePassword) {
  if (!test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
  TestDb db(/*server=*/true);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM RDB$DATABASE"), 1);
  const std::string secret = "wrong-" + db.Password();
  Connection c;
  const std::string error =
      ErrorOf([&] { c.Open("DBNAME=" + db.Location() + ";UID=SYSDBA;PWD=" + secret); });
  EXPECT_NE(error.find("user name and password"), std::string::npos) << error;
  EXPECT_EQ(error.find(secret), std::string::npos);
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::SeedBasics(db);
    M.Conexao.Open(db.ConnText());
    M.CodUsuario = 12;
    M.DataHoraSistema = "12/05/2026 14:03:09";
    M.NomeMaquina = "estacao-de-trabalho-0123456";  // 27 characters
  }
  TestDb db;
  Modulo1 M;
};

// Catches the host name not cut to 20 or read as Null, the local clock used
// instead of the server's, and a text that is not stored as given.
TEST_F(LogTest, ActivityRowCutsTheHostNameAndUsesTheServerClock) {
  M.Conexao.BeginTrans();
  GravaLogSys(M, Value(int32_t{12}), "VDA", "Exclui", "Cheque/Empenho:O'Brien/7");
  M.NomeMaquina = "null";
  GravaLogSys(M, Value(int32_t{12}), "VDA", "Cancela", "12/05/2026");
  M.Conexao.CommitTrans();
  EXPECT_EQ(db.Rows("SELECT USULOG, SISLOG, OPELOG, TABLOG, DATLOG, MAQLOG FROM TB_GER_LOGSYS "
                    "ORDER BY SEQLOG"),
            (Rows{{"12", "VDA", "Exclui", "Cheque/Empenho:O'Brien/7", "05/12/2026 14:03:09",
                   "estacao-de-trabalho-"},
                  {"12", "VDA", "Cancela", "12/05/2026", "05/12/2026 14:03:09", "null"}}));
}

// Catches the error row written inside the run's transaction (the rollback
// would erase it), a wrong column, a statement not cut to 250, a transaction
// left open, and anything of the run surviving the rollback.
TEST_F(LogTest, ErrorRowSurvivesTheRollbackThatFollowsIt) {
  M.Conexao.BeginTrans();
  M.Conexao.Execute("UPDATE TB_CTG_NUMLAN SET NOLANCA = 999");
  M.Sql = std::string(300, 'x');
  testing::internal::CaptureStderr();
  EXPECT_THROW(RotinaDoLote(M, "GravaDup", [&] { M.Conexao.Execute("DELETE FROM TB_NAO_EXISTE"); }),
               RunEnded);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Cancelamento de Empenhos: Erro de Sistema. Por favor Comunique ao Administrador !\n");
  EXPECT_FALSE(M.Conexao.InTransaction());
  EXPECT_EQ(db.Count("SELECT NOLANCA FROM TB_CTG_NUMLAN WHERE CODEMP=1"), 100);
  EXPECT_EQ(
      db.Rows("SELECT SEQUENCIA, NOME_DA_MAQUINA, CODIGO_DO_USUARIO, SISTEMA, "
              "CODIGO_ROTINA, NOME_ROTINA, PROCEDIMENTO, NUMERO_DA_LINHA, CODIGO_SQL, "
              "REFERENCIA_DLL, SUBSTRING(DESCRICAO_DO_ERRO FROM 1 FOR 5), "
              "IIF(POSITION('TB_NAO_EXISTE' IN DESCRICAO_DO_ERRO) > 0, 1, 0) FROM TB_GER_ERRQUBO"),
      (Rows{{"1", "estacao-de-trabalho-0123456", "12", "VDA", "C01", "CANCELAMENTO DE EMPENHOS",
             "GravaDup", "0", std::string(250, 'x'), "0", "-204-", "1"}}));
  EXPECT_EQ(M.ErrosGravados, 1);
}

// A second attachment changes the row and commits after a moment: the waiting
// step meets the server's conflict text, which the handlers look for exactly,
// and runs once more. Catches a step not run again (or run too often),
// PontoRetorno not naming it, and a duplicate key without the server's text.
TEST_F(LogTest, LockConflictRunsTheStepAgainAndDuplicatesSayUniqueKey) {
  const std::string update = "UPDATE TB_CTG_NUMLAN SET NOLANCA = NOLANCA + 1 WHERE CODEMP = 1";
  Connection other;
  other.Open(db.ConnText());
  other.BeginTrans();
  other.Execute(update);
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.CommitTrans();
  });
  M.Conexao.BeginTrans();
  std::vector<std::string> conflicts;
  Passo(M, 3, [&] {
    try {
      M.Conexao.Execute(update);
    } catch (const RuntimeError& e) {
      conflicts.push_back(std::to_string(e.Number()) + "-" + e.Description());
      throw;
    }
  });
  later.join();
  ASSERT_EQ(conflicts.size(), 1u);
  EXPECT_EQ(conflicts[0].rfind("-913-", 0), 0u) << conflicts[0];
  EXPECT_NE(conflicts[0].find("deadlock"), std::string::npos) << conflicts[0];
  EXPECT_EQ(M.PontoRetorno, 3);
  const std::string duplicate = ErrorOf(
      [&] { M.Conexao.Execute("INSERT INTO TB_CTG_CADPLA (CODEMP, CODCON) VALUES (1, '1')"); });
  EXPECT_EQ(duplicate.rfind("-803-", 0), 0u) << duplicate;
  EXPECT_NE(duplicate.find("UNIQUE KEY"), std::string::npos) << duplicate;
  M.Conexao.CommitTrans();
  EXPECT_EQ(db.Count("SELECT NOLANCA FROM TB_CTG_NUMLAN WHERE CODEMP=1"), 102);
}

}  // namespace
}  // namespace kz

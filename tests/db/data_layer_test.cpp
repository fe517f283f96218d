// The data layer against real databases: value mapping, cursors, counts,
// transactions, the server's conflict texts, and the two logs.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "data/grava_erro.h"
#include "data/grava_log_sys.h"
#include "data/handler.h"
#include "data/record_set.h"
#include "tests/support/test_db.h"

namespace kz {
namespace {

using test::TestDb;

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
  struct Case {
    const char* column;
    Value::Type type;
    const char* display;
  } cases[] = {
      {"s", Value::Type::Integer, "-7"},
      {"I", Value::Type::Long, "70000"},
      {"B", Value::Type::Double, "5000000000"},
      {"N", Value::Type::Currency, "12345678901234,5678"},
      {"N2", Value::Type::Currency, "-0,25"},
      {"N6", Value::Type::Double, "1,123456"},
      {"D", Value::Type::Double, "2,5"},
      {"DT", Value::Type::Date, "25/12/2017"},
      {"TS", Value::Type::Date, "05/12/2026 14:03:09"},
      {"C", Value::Type::Text, "ab   "},
      {"V", Value::Type::Text, "O'Brien"},
      {"X", Value::Type::Null, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.column);
    const Value v = rs.Fields(c.column);
    EXPECT_EQ(v.GetType(), c.type);
    if (!v.IsNull()) {
      EXPECT_EQ(v.DisplayText(), c.display);
    }
  }
  EXPECT_EQ(rs.Fields("N").ToCurrency().Raw(), 123456789012345678);
  try {
    rs.Fields("NOPE");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_NE(e.Description().find("NOPE"), std::string::npos);
  }
  rs.MoveNext();
  ASSERT_TRUE(rs.Eof());
  try {
    rs.Fields("I");
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::kNoCurrentRecord);
  }
}

TEST(DataLayer, CursorStaysOpenWhileOtherStatementsRunInTheTransaction) {
  TestDb db;
  db.Exec("CREATE TABLE T (K INTEGER NOT NULL PRIMARY KEY, V INTEGER)");
  for (int k = 1; k <= 500; ++k)
    db.Exec("INSERT INTO T VALUES (" + std::to_string(k) + ", 0)");
  Connection& c = db.Conn();
  c.BeginTrans();
  RecordSet rs;
  rs.Open("SELECT K FROM T ORDER BY K", c, adOpenKeyset);
  int seen = 0;
  for (; !rs.Eof(); rs.MoveNext()) {
    c.Execute("UPDATE T SET V = V + 1 WHERE K = " + rs.Fields("K").DisplayText());
    ++seen;
  }
  EXPECT_EQ(seen, 500);
  int64_t changed = -1;
  c.Execute("UPDATE T SET V = V + 1 WHERE K <= 10", changed);
  EXPECT_EQ(changed, 10);
  c.Execute("DELETE FROM T WHERE K < 0", changed);
  EXPECT_EQ(changed, 0);
  c.CommitTrans();
  EXPECT_EQ(rs.State(), 0);  // a commit closes the cursors of its transaction
  EXPECT_EQ(db.Count("SELECT SUM(V) FROM T"), 510);
}

TEST(DataLayer, RollbackUndoesAndStatementsOutsideATransactionCommitAtOnce) {
  TestDb db;
  db.Exec("CREATE TABLE T (K INTEGER)");
  Connection& c = db.Conn();
  c.Execute("INSERT INTO T VALUES (1)");  // own short transaction
  c.BeginTrans();
  c.Execute("INSERT INTO T VALUES (2)");
  c.RollbackTrans();
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM T"), 1);
}

// A second attachment changes the row and commits after a moment: the waiting
// update fails with the server's conflict text, and succeeds when run again.
TEST(DataLayer, LockConflictReportsDeadlockAndDuplicateReportsUniqueKey) {
  TestDb db;
  db.Exec("CREATE TABLE T (K INTEGER NOT NULL, V INTEGER, CONSTRAINT PK_T PRIMARY KEY (K))");
  db.Exec("INSERT INTO T VALUES (1, 0)");
  Connection other;
  other.Open(db.ConnText());
  other.BeginTrans();
  other.Execute("UPDATE T SET V = V + 10 WHERE K = 1");
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.CommitTrans();
  });
  Connection& c = db.Conn();
  c.BeginTrans();
  try {
    c.Execute("UPDATE T SET V = V + 1 WHERE K = 1");
    ADD_FAILURE() << "expected a conflict";
  } catch (const RuntimeError& e) {
    EXPECT_TRUE(IsDeadlock(e)) << e.Description();
    EXPECT_EQ(e.Number(), -913);
  }
  later.join();
  c.Execute("UPDATE T SET V = V + 1 WHERE K = 1");
  try {
    c.Execute("INSERT INTO T VALUES (1, 5)");
    ADD_FAILURE() << "expected a duplicate";
  } catch (const RuntimeError& e) {
    EXPECT_TRUE(IsUniqueKey(e)) << e.Description();
    EXPECT_EQ(e.Number(), -803);
  }
  c.CommitTrans();
  EXPECT_EQ(db.Count("SELECT V FROM T"), 11);
}

TEST(DataLayer, ServerConnectionWorksAndErrorsNeverShowThePassword) {
  if (!test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
  TestDb db(/*server=*/true);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM RDB$DATABASE"), 1);
  Connection c;
  const std::string secret = "wrong-" + db.Password();
  try {
    c.Open("DBNAME=" + db.Location() + ";UID=SYSDBA;PWD=" + secret);
    FAIL();
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Description().find(secret), std::string::npos);
    EXPECT_NE(e.Description().find("user name and password"), std::string::npos);
  }
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

TEST_F(LogTest, ActivityRowCutsTheHostNameAndUsesTheServerClock) {
  M.Conexao.BeginTrans();
  GravaLogSys(M, Value(int32_t{12}), "VDA", "Cancela", "Empenhos de 100 a 180");
  GravaLogSys(M, Value(int32_t{12}), "VDA", "Exclui", "Cheque/Empenho:O'Brien/7");
  M.Conexao.CommitTrans();
  EXPECT_EQ(db.Rows("SELECT USULOG, SISLOG, OPELOG, TABLOG, DATLOG, MAQLOG FROM TB_GER_LOGSYS "
                    "ORDER BY SEQLOG"),
            (std::vector<std::vector<std::string>>{
                {"12", "VDA", "Cancela", "Empenhos de 100 a 180", "05/12/2026 14:03:09",
                 "estacao-de-trabalho-"},
                {"12", "VDA", "Exclui", "Cheque/Empenho:O'Brien/7", "05/12/2026 14:03:09",
                 "estacao-de-trabalho-"}}));
}

TEST_F(LogTest, ErrorRowSurvivesTheRollbackThatFollowsIt) {
  M.Conexao.BeginTrans();
  M.Conexao.Execute("UPDATE TB_CTG_NUMLAN SET NOLANCA = 999");
  M.Sql = std::string(300, 'x');
  testing::internal::CaptureStderr();
  try {
    RotinaDoLote(M, "GravaDup", [&] { M.Conexao.Execute("DELETE FROM TB_NAO_EXISTE"); });
    FAIL();
  } catch (const RunEnded&) {
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "Cancelamento de Empenhos: Erro de Sistema. Por favor Comunique ao Administrador !\n");
  EXPECT_FALSE(M.Conexao.InTransaction());
  EXPECT_EQ(db.Count("SELECT NOLANCA FROM TB_CTG_NUMLAN WHERE CODEMP=1"), 100);
  const auto rows = db.Rows(
      "SELECT SEQUENCIA, NOME_DA_MAQUINA, CODIGO_DO_USUARIO, SISTEMA, CODIGO_ROTINA, NOME_ROTINA, "
      "PROCEDIMENTO, NUMERO_DA_LINHA, CHAR_LENGTH(CODIGO_SQL), REFERENCIA_DLL, DESCRICAO_DO_ERRO "
      "FROM TB_GER_ERRQUBO");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(std::vector<std::string>(rows[0].begin(), rows[0].end() - 1),
            (std::vector<std::string>{"1", "estacao-de-trabalho-0123456", "12", "VDA", "C01",
                                      "CANCELAMENTO DE EMPENHOS", "GravaDup", "0", "250", "0"}));
  EXPECT_EQ(rows[0].back().rfind("-204-", 0), 0u) << rows[0].back();
  EXPECT_NE(rows[0].back().find("TB_NAO_EXISTE"), std::string::npos);
  EXPECT_EQ(M.ErrosGravados, 1);
}

TEST_F(LogTest, DeadlockStepRunsAgainUntilItSucceeds) {
  Connection other;
  other.Open(db.ConnText());
  other.BeginTrans();
  other.Execute("UPDATE TB_CTG_NUMLAN SET NOLANCA = NOLANCA + 1 WHERE CODEMP = 1");
  std::thread later([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.CommitTrans();
  });
  M.Conexao.BeginTrans();
  int runs = 0;
  Passo(M, 3, [&] {
    ++runs;
    M.Conexao.Execute("UPDATE TB_CTG_NUMLAN SET NOLANCA = NOLANCA + 1 WHERE CODEMP = 1");
  });
  later.join();
  M.Conexao.CommitTrans();
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(M.PontoRetorno, 3);
  EXPECT_EQ(db.Count("SELECT NOLANCA FROM TB_CTG_NUMLAN WHERE CODEMP=1"), 102);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO"), 0);
}

}  // namespace
}  // namespace kz

// Ledger postings against real databases: new entries and re-posts, the
// monthly totals of the account chains, the return queue, and the retries on
// lock conflicts and taken entry numbers.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <map>
#include <thread>

#include "common/runtime_error.h"
#include "data/connection.h"
#include "data/record_set.h"
#include "ledger/inc_plan.h"
#include "ledger/lan_ctg.h"
#include "ledger/trata_retorno_lanca.h"
#include "tests/support/test_db.h"

namespace kz {
namespace {

using test::TestDb;
using Linhas = std::vector<std::vector<std::string>>;
using Totais = std::map<std::string, std::string>;

struct Cadeia {
  std::vector<std::string> contas;
  std::string coluna, valor;
};
// The totals of company 1 that the chains name, keyed as NonZeroTotals does.
Totais Cadeias(std::initializer_list<Cadeia> cadeias) {
  Totais out;
  for (const Cadeia& c : cadeias) {
    for (const std::string& conta : c.contas) out["1 " + conta + " " + c.coluna] = c.valor;
  }
  return out;
}
const std::vector<std::string> k110101 = {"1.1.01", "1.1", "1"};
const std::vector<std::string> k310201 = {"3.1.02", "3.1", "3"};

// Entry -1: 10,5 from 3.1.02 to 1.1.01 on 25/12/2017.
const Totais kUmaEntrada = Cadeias({{k110101, "SLDD12", "10,5"}, {k310201, "SLDC12", "10,5"}});

class LedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::SeedBasics(db);
    M.Conexao.Open(db.ConnText());
    M.EmpCtg = 1;
    M.CodUsuario = 12;
    M.DataHoraSistema = "12/05/2026 14:03:09";
    M.NomeMaquina = "caixa-01";
  }

  // Entry 125 of each company: 40 from 3.1.02 to 1.1.01 in March.
  void SeedEntry125() {
    for (const char* emp : {"1", "2"}) {
      db.Exec(std::string("INSERT INTO TB_CTG_CADLAN (CODEMP, NUMLAN, CTADEB, CTACRE, DATLAN, ") +
              "MESLAN, VALLAN, DOCLAN, INTLAN) VALUES (" + emp +
              ", 125, '1.1.01', '3.1.02', '03/15/2017', 3, 40, 'NF-1', 125)");
    }
  }

  // Counts every insert attempt of a new entry; the counter is a generator,
  // so attempts undone by a failure still count.
  void CountNewEntryInserts() {
    db.ExecScript(R"(
CREATE GENERATOR G_TENTATIVAS;
SET TERM ^ ;
CREATE TRIGGER TG_TESTE_TENTATIVAS FOR TB_CTG_CADLAN BEFORE INSERT AS
DECLARE VARIABLE N BIGINT;
BEGIN
  IF (NEW.INTLAN < 0) THEN N = GEN_ID(G_TENTATIVAS, 1);
END^
SET TERM ; ^
)");
  }
  int64_t NewEntryInserts() { return db.Count("SELECT GEN_ID(G_TENTATIVAS, 0) FROM RDB$DATABASE"); }

  // Posts in a transaction of its own, as the batch does.
  int32_t Post(int32_t numero, const std::string& debito, const std::string& credito, DateTime data,
               const char* valor) {
    M.Conexao.BeginTrans();
    const int32_t r = LanCtg(M, numero, debito, credito, data, Currency::Parse(valor), "DOC-7",
                             "Historico 1", "", "", "");
    M.Conexao.CommitTrans();
    return r;
  }
  int32_t PostNew() { return Post(-1, "1.1.01", "3.1.02", DateTime::Date(2017, 12, 25), "10,5"); }

  // Every non-zero total as "company account column" -> amount.
  Totais NonZeroTotals() {
    std::vector<std::string> colunas;
    std::string sql = "SELECT CODEMP, CODCON";
    for (int mes = 1; mes <= 12; ++mes) {
      for (const char* lado : {"D", "C"}) {
        colunas.push_back("SLD" + std::string(lado) + std::to_string(mes));
        sql += ", " + colunas.back();
      }
    }
    Totais out;
    for (const auto& row : db.Rows(sql + " FROM TB_CTG_CADPLA")) {
      for (size_t i = 0; i < colunas.size(); ++i) {
        if (row[i + 2] != "0") out[row[0] + " " + row[1] + " " + colunas[i]] = row[i + 2];
      }
    }
    return out;
  }
  Linhas Entries() {
    return db.Rows(
        "SELECT CODEMP, NUMLAN, CTADEB, CTACRE, DATLAN, MESLAN, VALLAN, DOCLAN, INTLAN, HISLAN1, "
        "HISLAN2, HISLAN3, HISLAN4, USULAN FROM TB_CTG_CADLAN ORDER BY CODEMP, NUMLAN");
  }
  Linhas Errors() {
    return db.Rows(
        "SELECT PROCEDIMENTO, DESCRICAO_DO_ERRO, CODIGO_SQL FROM TB_GER_ERRQUBO ORDER BY "
        "SEQUENCIA");
  }
  // The only error row: routine, description, statement.
  std::vector<std::string> OnlyError() {
    const Linhas erros = Errors();
    EXPECT_EQ(erros.size(), 1u);
    return erros.size() == 1 ? erros[0] : std::vector<std::string>(3);
  }
  Linhas Logs() { return db.Rows("SELECT OPELOG, TABLOG FROM TB_GER_LOGSYS ORDER BY SEQLOG"); }

  TestDb db;
  Modulo1 M;
};

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

TEST_F(LedgerTest, NewEntryTakesTheServersNumberAndRaisesBothChains) {
  EXPECT_EQ(PostNew(), 101);
  EXPECT_EQ(Entries(), (Linhas{{"1", "101", "1.1.01", "3.1.02", "25/12/2017", "12", "10,5", "DOC-7",
                                "-1", "Historico 1", "", "", "", "12"}}));
  const std::string hora = db.Scalar("SELECT DATHOR FROM TB_CTG_CADLAN").DisplayText();
  const std::string forma = "##/##/#### ##:##:##";  // month first
  ASSERT_EQ(hora.size(), forma.size()) << hora;
  for (size_t i = 0; i < forma.size(); ++i) {
    EXPECT_EQ(forma[i] == '#', std::isdigit(static_cast<unsigned char>(hora[i])) != 0) << hora;
  }
  EXPECT_LE(std::stoi(hora.substr(0, 2)), 12) << hora;
  EXPECT_EQ(NonZeroTotals(), kUmaEntrada);
  EXPECT_EQ(Logs(), (Linhas{{"Cadastra", "Lnc: 0 [1.1.01] [3.1.02]"}}));
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM RETORNOLANCA WHERE MARCA = -1"), 0);
  EXPECT_EQ(Errors(), Linhas{});
  EXPECT_EQ(M.PontoRetorno, 1);
  EXPECT_TRUE(StartsWith(M.Sql, " INSERT INTO TB_GER_LOGSYS")) << M.Sql;
}

TEST_F(LedgerTest, RepostTakesTheOldEntryOutOfItsMonthAndPostsTheNewOne) {
  SeedEntry125();
  EXPECT_EQ(Post(125, "4.1.01", "1.1.03", DateTime::Date(2017, 4, 10), "50"), 125);
  EXPECT_EQ(Entries(), (Linhas{{"1", "125", "4.1.01", "1.1.03", "10/04/2017", "4", "50", "DOC-7",
                                "125", "Historico 1", "", "", "", "12"},
                               {"2", "125", "1.1.01", "3.1.02", "15/03/2017", "3", "40", "NF-1",
                                "125", "<null>", "<null>", "<null>", "<null>", "<null>"}}));
  EXPECT_EQ(NonZeroTotals(), Cadeias({{k110101, "SLDC3", "40"},
                                      {k310201, "SLDD3", "40"},
                                      {{"4.1.01", "4.1", "4"}, "SLDD4", "50"},
                                      {{"1.1.03", "1.1", "1"}, "SLDC4", "50"}}));
  EXPECT_EQ(Logs(), (Linhas{{"Atualiza", "Lnc: 125 [4.1.01] [1.1.03]"}}));
  EXPECT_EQ(Errors(), Linhas{});
}

// 0 is a re-post of entry 0, not a new entry.
TEST_F(LedgerTest, RepostOfAMissingNumberIsRecordedAndChangesNothing) {
  for (int32_t numero : {999, 0}) {
    SCOPED_TRACE(numero);
    db.Exec("DELETE FROM TB_GER_ERRQUBO");
    EXPECT_EQ(Post(numero, "1.1.01", "3.1.02", DateTime::Date(2017, 4, 10), "50"), 0);
    const std::vector<std::string> erro = OnlyError();
    EXPECT_EQ(erro[0], "LanCtg");
    EXPECT_TRUE(StartsWith(erro[1], "3021-")) << erro[1];
    EXPECT_EQ(erro[2], "SELECT * FROM TB_CTG_CADLAN WHERE NUMLAN=" + std::to_string(numero) +
                           " AND CODEMP=1");
  }
  EXPECT_EQ(Entries(), Linhas{});
  EXPECT_EQ(NonZeroTotals(), Totais{});
  EXPECT_EQ(Logs(), Linhas{});
}

TEST_F(LedgerTest, EmptyAccountIsRecordedUnderIncPlanAndThePostingGoesOn) {
  EXPECT_EQ(Post(-1, "", "3.1.02", DateTime::Date(2017, 12, 25), "10,5"), 101);
  const std::vector<std::string> erro = OnlyError();
  EXPECT_EQ(erro[0], "IncPlan");
  EXPECT_EQ(erro[2],
            " UPDATE TB_CTG_CADPLA SET SldD12=SldD12+(10.5) WHERE CodEmp=1 AND CodCon IN ()");
  EXPECT_EQ(NonZeroTotals(), Cadeias({{k310201, "SLDC12", "10,5"}}));
  EXPECT_EQ(Logs(), (Linhas{{"Cadastra", "Lnc: 0 [] [3.1.02]"}}));
}

TEST_F(LedgerTest, BalanceUpdateNamesEveryBeginningOfTheCode) {
  struct Case {
    const char* conta;
    const char* valor;
    const char* lado;
    int16_t mes;
    const char* sql;
  } cases[] = {
      {"1.1.01", "10,5", "D", 12,
       " UPDATE TB_CTG_CADPLA SET SldD12=SldD12+(10.5) WHERE CodEmp=1 AND CodCon IN "
       "('1.1.01','1.1.0','1.1.','1.1','1.','1')"},
      {"5", "-10,5", "C", 3,
       " UPDATE TB_CTG_CADPLA SET SldC3=SldC3+(-10.5) WHERE CodEmp=1 AND CodCon IN ('5')"},
  };
  M.Conexao.BeginTrans();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conta);
    IncPlan(M, c.conta, Currency::Parse(c.valor), c.lado, c.mes);
    EXPECT_EQ(M.Sql, c.sql);
    EXPECT_EQ(M.PontoRetorno, 1);
  }
  M.Conexao.CommitTrans();
  EXPECT_EQ(Errors(), Linhas{});
  EXPECT_EQ(NonZeroTotals(), Cadeias({{k110101, "SLDD12", "10,5"}}));
}

TEST(LedgerList, AddsQuotedElementsOnceAndClosesOnAnEmptyValue) {
  struct Case {
    Value valor;
    std::string lista, separador;
    int16_t sem_aspas;
    std::string resultado, lista_depois;
  } cases[] = {
      {Value("1.1"), "", "", 0, "'1.1'", ""},  // the first element; the list stays empty
      {Value("1.1"), "'1.1.01'", "", 0, "'1.1.01','1.1'", "'1.1.01','1.1'"},
      {Value("1.1"), "'1.1.01','1.1'", ",", 0, "'1.1.01','1.1'", "'1.1.01','1.1'"},
      {Value("1.1"), "1.1.01", ";", 1, "1.1.01", "1.1.01"},  // found as a plain substring
      {Value("2"), "1", " | ", 1, "1 | 2", "1 | 2"},
      // A quote inside a code: 'O' is not part of 'O''B', the account above
      // is listed too.
      {Value("O"), "'O''B','O'''", "", 0, "'O''B','O''','O'", "'O''B','O''','O'"},
      {Value(""), "'5'", "", 0, "('5')", "('5')"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.resultado);
    EXPECT_EQ(MontaLista(c.valor, c.lista, c.separador, c.sem_aspas), c.resultado);
    EXPECT_EQ(c.lista, c.lista_depois);
  }
}

TEST_F(LedgerTest, ReturnQueueGivesOneNumberAndClearsTheMark) {
  db.Exec("INSERT INTO RETORNOLANCA (MARCA, LANCAMENTO) VALUES (-7, 301)");
  db.Exec("INSERT INTO RETORNOLANCA (MARCA, LANCAMENTO) VALUES (-7, 302)");
  db.Exec("INSERT INTO RETORNOLANCA (MARCA, LANCAMENTO) VALUES (-8, 400)");
  M.Sql = "anterior";
  M.Conexao.BeginTrans();
  const int32_t numero = TrataRetornoLanca(M, -7);
  EXPECT_TRUE(numero == 301 || numero == 302) << numero;
  try {
    TrataRetornoLanca(M, -9);
    ADD_FAILURE() << "expected no current record";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.Number(), err::kNoCurrentRecord);
  }
  M.Conexao.CommitTrans();
  EXPECT_EQ(M.Sql, "anterior");
  EXPECT_EQ(db.Rows("SELECT MARCA, LANCAMENTO FROM RETORNOLANCA"), (Linhas{{"-8", "400"}}));
}

// A second attachment holds `sql` uncommitted and commits it from another
// thread once a statement of the test's run starting with `espera` is waiting
// for it on the server, so the conflict is met every time.
class Competitor {
 public:
  Competitor(TestDb& db, const std::string& sql, const std::string& espera) {
    outra_.Open(db.ConnText());
    outra_.BeginTrans();
    outra_.Execute(sql);
    monitor_.Open(db.ConnText());
    // A statement that has started waiting for a record lock.
    const std::string consulta =
        "SELECT COUNT(*) FROM MON$STATEMENTS S JOIN MON$RECORD_STATS R ON R.MON$STAT_ID = "
        "S.MON$STAT_ID WHERE S.MON$STATE = 1 AND R.MON$RECORD_WAITS > 0 AND "
        "TRIM(S.MON$SQL_TEXT) STARTING WITH '" +
        espera + "'";
    t_ = std::thread([this, consulta] {
      for (int i = 0; i < 2000; ++i) {  // gives up after some seconds rather than hang
        RecordSet rs;
        rs.Open(consulta, monitor_);
        if (rs.FieldAt(0).ToLong() > 0) break;
        rs.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      outra_.CommitTrans();
    });
  }
  ~Competitor() { t_.join(); }

 private:
  Connection outra_;
  Connection monitor_;
  std::thread t_;
};

TEST_F(LedgerTest, BalanceUpdateWaitsForALockedTotalAndAddsOnce) {
  M.Conexao.BeginTrans();
  {
    Competitor c(db, "UPDATE TB_CTG_CADPLA SET SLDD12 = SLDD12 + 1 WHERE CODEMP=1 AND CODCON='1.1'",
                 "UPDATE TB_CTG_CADPLA SET SldD12");
    IncPlan(M, "1.1.01", Currency::Parse("10,5"), "D", 12);
  }
  M.Conexao.CommitTrans();
  EXPECT_EQ(
      NonZeroTotals(),
      (Totais{{"1 1.1.01 SLDD12", "10,5"}, {"1 1.1 SLDD12", "11,5"}, {"1 1 SLDD12", "10,5"}}));
  EXPECT_EQ(Errors(), Linhas{});
}

// Another poster takes entry 101 first, or moves the numbering row while our
// insert waits on it: the insert runs once more and gets the next free number.
TEST_F(LedgerTest, NewEntryRunsItsInsertAgainWhenAnotherPosterGetsThereFirst) {
  CountNewEntryInserts();
  struct Case {
    const char* outro;
    int32_t numero;
  } cases[] = {
      {"INSERT INTO TB_CTG_CADLAN (CODEMP, NUMLAN, INTLAN) VALUES (1, 101, 0)", 102},
      {"UPDATE TB_CTG_NUMLAN SET NOLANCA = 110 WHERE CODEMP = 1", 111},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.outro);
    db.ExecScript(
        "DELETE FROM TB_CTG_CADLAN; UPDATE TB_CTG_NUMLAN SET NOLANCA = 100; "
        "UPDATE TB_CTG_CADPLA SET SLDD12 = 0, SLDC12 = 0; DELETE FROM TB_GER_LOGSYS; "
        "DELETE FROM TB_GER_ERRQUBO; "
        "SET GENERATOR G_TENTATIVAS TO 0;");
    M.Conexao.BeginTrans();
    int32_t numero = 0;
    {
      Competitor outro(db, c.outro, "INSERT INTO TB_CTG_CADLAN");
      numero = LanCtg(M, -1, "1.1.01", "3.1.02", DateTime::Date(2017, 12, 25),
                      Currency::Parse("10,5"), "DOC-7", "", "", "", "");
    }
    M.Conexao.CommitTrans();
    EXPECT_EQ(numero, c.numero);
    EXPECT_EQ(NewEntryInserts(), 2);
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN WHERE INTLAN = -1 AND NUMLAN = " +
                       std::to_string(c.numero)),
              1);
    EXPECT_EQ(NonZeroTotals(), kUmaEntrada);
    EXPECT_EQ(Logs(), (Linhas{{"Cadastra", "Lnc: 0 [1.1.01] [3.1.02]"}}));
    EXPECT_EQ(Errors(), Linhas{});
  }
}

// The numbering row behind an entry already written: every try collides, so
// the posting gives up after a hundred and is recorded.
TEST_F(LedgerTest, DamagedNumberingGivesUpAfterAHundredDuplicates) {
  CountNewEntryInserts();
  db.Exec("INSERT INTO TB_CTG_CADLAN (CODEMP, NUMLAN, INTLAN) VALUES (1, 101, 0)");
  db.Exec("UPDATE TB_CTG_NUMLAN SET NOLANCA = 100 WHERE CODEMP = 1");
  EXPECT_EQ(PostNew(), 0);
  EXPECT_EQ(NewEntryInserts(), 100);
  const std::string insert =
      "INSERT INTO TB_CTG_CADLAN (CodEmp,NumLan,CtaDeb,CtaCre,DatLan,MesLan,ValLan,DocLan,IntLan,"
      "HisLan1,Hislan2,HisLan3,Hislan4,DatHor,UsuLan) VALUES (1,(SELECT NOLANCA+1 FROM "
      "TB_CTG_NUMLAN WHERE CODEMP=1),'1.1.01','3.1.02','12/25/2017',12,10.5,'DOC-7',-1,"
      "'Historico 1','','','','";
  const std::vector<std::string> erro = OnlyError();
  EXPECT_EQ(erro[0], "LanCtg");
  EXPECT_TRUE(StartsWith(erro[1], "-803-violation of PRIMARY or UNIQUE KEY")) << erro[1];
  EXPECT_EQ(erro[2], insert.substr(0, 250));
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN"), 1);
  EXPECT_EQ(NonZeroTotals(), Totais{});
  EXPECT_EQ(Logs(), Linhas{});
}

// A duplicate or a lock conflict of a step other than the two inserts is
// recorded; no insert runs again, so nothing is posted twice.
TEST_F(LedgerTest, DuplicateInTheActivityLogIsRecordedWithoutPostingAgain) {
  db.Exec("INSERT INTO TB_GER_LOGSYS (SEQLOG, OPELOG) VALUES (1, 'ocupa')");  // the next SEQLOG
  EXPECT_EQ(PostNew(), 0);
  const std::vector<std::string> erro = OnlyError();
  EXPECT_EQ(erro[0], "LanCtg");
  EXPECT_TRUE(StartsWith(erro[1], "-803-")) << erro[1];
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN"), 1);
  EXPECT_EQ(NonZeroTotals(), kUmaEntrada);
  EXPECT_EQ(Logs(), (Linhas{{"ocupa", "<null>"}}));
}

TEST_F(LedgerTest, LockConflictOnTheOldEntrysDeleteIsRecordedWithoutPostingAgain) {
  SeedEntry125();
  M.Conexao.BeginTrans();
  int32_t numero = -1;
  {
    Competitor c(db, "UPDATE TB_CTG_CADLAN SET DOCLAN = 'outro' WHERE CODEMP = 1 AND NUMLAN = 125",
                 "Delete From Tb_Ctg_CadLan");
    numero = LanCtg(M, 125, "4.1.01", "1.1.03", DateTime::Date(2017, 4, 10), Currency::Parse("50"),
                    "DOC-7", "", "", "", "");
  }
  M.Conexao.CommitTrans();
  EXPECT_EQ(numero, 0);
  const std::vector<std::string> erro = OnlyError();
  EXPECT_EQ(erro[0], "LanCtg");
  EXPECT_TRUE(StartsWith(erro[1], "-913-deadlock")) << erro[1];
  EXPECT_EQ(db.Rows("SELECT DOCLAN FROM TB_CTG_CADLAN WHERE CODEMP = 1"), (Linhas{{"outro"}}));
  // Only the old entry's take-out, once.
  EXPECT_EQ(NonZeroTotals(), Cadeias({{k110101, "SLDC3", "40"}, {k310201, "SLDD3", "40"}}));
  EXPECT_EQ(Logs(), Linhas{});
}

}  // namespace
}  // namespace kz

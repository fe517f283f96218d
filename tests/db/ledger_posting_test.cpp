// Ledger postings against real databases: new entries and re-posts, the
// monthly totals of the account chains, the return queue, and the retries on
// lock conflicts and taken entry numbers.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <regex>
#include <thread>
#include <tuple>

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

// Company 1's totals: every account of each chain gets the amount in the column.
Totais Cadeias(
    std::initializer_list<std::tuple<std::vector<std::string>, std::string, std::string>> cadeias) {
  Totais out;
  for (const auto& [contas, coluna, valor] : cadeias) {
    for (const std::string& conta : contas) out["1 " + conta + " " + coluna] = valor;
  }
  return out;
}
const std::vector<std::string> k110101 = {"1.1.01", "1.1", "1"};
const std::vector<std::string> k310201 = {"3.1.02", "3.1", "3"};
// Entry -1: 10,5 from 3.1.02 to 1.1.01 on 25/12/2017.
const Totais kUmaEntrada = Cadeias({{k110101, "SLDD12", "10,5"}, {k310201, "SLDC12", "10,5"}});
const Linhas kLogUmaEntrada = {{"Cadastra", "Lnc: 0 [1.1.01] [3.1.02]"}};

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

  // Counts every insert attempt of a new entry in a generator, which a
  // rolled-back statement does not undo.
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

  // Posts in a transaction of its own, as the batch does; while it runs, a
  // competitor may hold a change (see Competitor).
  int32_t Post(int32_t numero, const std::string& debito, const std::string& credito, DateTime data,
               const char* valor) {
    M.Conexao.BeginTrans();
    const int32_t r = LanCtg(M, numero, debito, credito, data, Currency::Parse(valor), "DOC-7",
                             "Historico 1", "", "", "");
    M.Conexao.CommitTrans();
    return r;
  }
  int32_t PostNew() { return Post(-1, "1.1.01", "3.1.02", DateTime::Date(2017, 12, 25), "10,5"); }
  int32_t Repost125() { return Post(125, "4.1.01", "1.1.03", DateTime::Date(2017, 4, 10), "50"); }

  // Every non-zero total as "company account column" -> amount.
  Totais NonZeroTotals() {
    std::string sql = "SELECT CODEMP, CODCON";
    for (int mes = 1; mes <= 12; ++mes) sql += ", SLDD" + std::to_string(mes);
    for (int mes = 1; mes <= 12; ++mes) sql += ", SLDC" + std::to_string(mes);
    Totais out;
    for (const auto& row : db.Rows(sql + " FROM TB_CTG_CADPLA")) {
      for (size_t i = 2; i < row.size(); ++i) {
        const std::string coluna = (i < 14 ? "SLDD" : "SLDC") + std::to_string((i - 2) % 12 + 1);
        if (row[i] != "0") out[row[0] + " " + row[1] + " " + coluna] = row[i];
      }
    }
    return out;
  }
  Linhas Entries() {
    return db.Rows(
        "SELECT CODEMP, NUMLAN, CTADEB, CTACRE, DATLAN, MESLAN, VALLAN, DOCLAN, INTLAN, HISLAN1, "
        "HISLAN2, HISLAN3, HISLAN4, USULAN FROM TB_CTG_CADLAN ORDER BY CODEMP, NUMLAN");
  }
  // Routine, error number and (when asked) statement of each error row.
  Linhas Errors(bool sql = true) {
    return db.Rows(std::string("SELECT PROCEDIMENTO, SUBSTRING(DESCRICAO_DO_ERRO FROM 1 FOR ") +
                   "POSITION('-', DESCRICAO_DO_ERRO, 2))" + (sql ? ", CODIGO_SQL" : "") +
                   " FROM TB_GER_ERRQUBO ORDER BY SEQUENCIA");
  }
  Linhas Logs() { return db.Rows("SELECT OPELOG, TABLOG FROM TB_GER_LOGSYS ORDER BY SEQLOG"); }

  TestDb db;
  Modulo1 M;
};

// Catches a number not taken from NOLANCA, a wrong column or month, a total
// missed on an account above (or raised in the other company), the wrong log
// text, the posting time not written month first, and the mark left queued
// (or another mark's number taken away).
TEST_F(LedgerTest, NewEntryTakesTheServersNumberAndRaisesBothChains) {
  db.Exec("INSERT INTO RETORNOLANCA (MARCA, LANCAMENTO) VALUES (-8, 400)");  // another poster's
  EXPECT_EQ(PostNew(), 101);
  EXPECT_EQ(Entries(), (Linhas{{"1", "101", "1.1.01", "3.1.02", "25/12/2017", "12", "10,5", "DOC-7",
                                "-1", "Historico 1", "", "", "", "12"}}));
  const std::string hora = db.Rows("SELECT DATHOR FROM TB_CTG_CADLAN").at(0).at(0);
  EXPECT_TRUE(std::regex_match(hora, std::regex(R"((0\d|1[0-2])/\d\d/\d{4} \d\d:\d\d:\d\d)")))
      << hora;
  EXPECT_EQ(NonZeroTotals(), kUmaEntrada);
  EXPECT_EQ(Logs(), kLogUmaEntrada);
  EXPECT_EQ(db.Rows("SELECT MARCA, LANCAMENTO FROM RETORNOLANCA"), (Linhas{{"-8", "400"}}));
  EXPECT_EQ(Errors(), Linhas{});
}

// Catches the old amount not taken out of its own month and sides, the other
// company's entry of the same number touched, and the wrong log text.
TEST_F(LedgerTest, RepostTakesTheOldEntryOutOfItsMonthAndPostsTheNewOne) {
  SeedEntry125();
  EXPECT_EQ(Repost125(), 125);
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

// A number of 0 or more is a re-post, 0 included. Catches a missing entry that
// changes something before failing, or is not recorded, or returns non-zero.
TEST_F(LedgerTest, RepostOfAMissingNumberIsRecordedAndChangesNothing) {
  EXPECT_EQ(Post(999, "1.1.01", "3.1.02", DateTime::Date(2017, 4, 10), "50"), 0);
  EXPECT_EQ(Post(0, "1.1.01", "3.1.02", DateTime::Date(2017, 4, 10), "50"), 0);
  EXPECT_EQ(
      Errors(),
      (Linhas{{"LanCtg", "3021-", "SELECT * FROM TB_CTG_CADLAN WHERE NUMLAN=999 AND CODEMP=1"},
              {"LanCtg", "3021-", "SELECT * FROM TB_CTG_CADLAN WHERE NUMLAN=0 AND CODEMP=1"}}));
  EXPECT_EQ(Entries(), Linhas{});
  EXPECT_EQ(NonZeroTotals(), Totais{});
  EXPECT_EQ(Logs(), Linhas{});
}

// Catches an IncPlan failure that stops the posting or is recorded under the
// wrong routine, and an empty list not closed as "()".
TEST_F(LedgerTest, EmptyAccountIsRecordedUnderIncPlanAndThePostingGoesOn) {
  EXPECT_EQ(Post(-1, "", "3.1.02", DateTime::Date(2017, 12, 25), "10,5"), 101);
  EXPECT_EQ(Errors(), (Linhas{{"IncPlan", "-104-",
                               " UPDATE TB_CTG_CADPLA SET SldD12=SldD12+(10.5) WHERE CodEmp=1 AND "
                               "CodCon IN ()"}}));
  EXPECT_EQ(NonZeroTotals(), Cadeias({{k310201, "SLDC12", "10,5"}}));
  EXPECT_EQ(Logs(), (Linhas{{"Cadastra", "Lnc: 0 [] [3.1.02]"}}));
}

// Catches an element added twice, a plain substring taken for a quoted
// element ('O' inside 'O''B'), the separator argument used, and an empty
// value that does not close the list.
TEST(LedgerList, AddsQuotedElementsOnceAndClosesOnAnEmptyValue) {
  const std::tuple<const char*, std::string, const char*, int16_t, const char*> cases[] = {
      // value, list, separator, unquoted, result (and the list afterwards)
      {"1.1", "'1.1.01'", "", 0, "'1.1.01','1.1'"},
      {"1.1", "'1.1.01','1.1'", ",", 0, "'1.1.01','1.1'"},
      {"1.1", "1.1.01", ";", 1, "1.1.01"},  // found as a plain substring
      {"2", "1", " | ", 1, "1 | 2"},
      {"O", "'O''B','O'''", "", 0, "'O''B','O''','O'"},
      {"O", "'O''B','O'", "", 0, "'O''B','O'"},  // whole after a partial match
      {"", "'5'", "", 0, "('5')"},
  };
  for (auto [valor, lista, separador, sem_aspas, resultado] : cases) {
    std::string sep = separador;
    EXPECT_EQ(MontaLista(valor, lista, sep, sem_aspas), resultado);
    EXPECT_EQ(lista, resultado);
  }
  std::string lista, sep;  // the first element: the list stays empty
  EXPECT_EQ(MontaLista("1.1", lista, sep, 0), "'1.1'");
  EXPECT_EQ(lista, "");
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
    const std::string esperando =
        "SELECT COUNT(*) FROM MON$STATEMENTS S JOIN MON$RECORD_STATS R ON R.MON$STAT_ID = "
        "S.MON$STAT_ID WHERE S.MON$STATE = 1 AND R.MON$RECORD_WAITS > 0 AND "
        "TRIM(S.MON$SQL_TEXT) STARTING WITH '" +
        espera + "'";
    t_ = std::thread([this, esperando] {
      for (int i = 0; i < 2000; ++i) {  // gives up after some seconds rather than hang
        RecordSet rs;
        rs.Open(esperando, monitor_);
        if (rs.FieldAt(0).ToLong() > 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      outra_.CommitTrans();
    });
  }
  ~Competitor() { t_.join(); }

 private:
  Connection outra_, monitor_;
  std::thread t_;
};

// Catches a balance update that fails (or adds twice) when it meets a lock,
// and a code list missing a beginning of the code.
TEST_F(LedgerTest, BalanceUpdateWaitsForALockedTotalAndAddsOnce) {
  M.Conexao.BeginTrans();
  {
    Competitor c(db, "UPDATE TB_CTG_CADPLA SET SLDD12 = SLDD12 + 1 WHERE CODEMP=1 AND CODCON='1.1'",
                 "UPDATE TB_CTG_CADPLA SET SldD12");
    IncPlan(M, "1.1.01", Currency::Parse("10,5"), "D", 12);
  }
  M.Conexao.CommitTrans();
  EXPECT_EQ(M.Sql,
            " UPDATE TB_CTG_CADPLA SET SldD12=SldD12+(10.5) WHERE CodEmp=1 AND CodCon IN "
            "('1.1.01','1.1.0','1.1.','1.1','1.','1')");
  EXPECT_EQ(
      NonZeroTotals(),
      (Totais{{"1 1.1.01 SLDD12", "10,5"}, {"1 1.1 SLDD12", "11,5"}, {"1 1 SLDD12", "10,5"}}));
  EXPECT_EQ(Errors(), Linhas{});
}

// Another poster takes entry 101 first (a duplicate), or moves the numbering
// row while our insert waits on it (a lock conflict): the insert alone runs
// once more, reads NOLANCA anew and gets the next free number.
TEST_F(LedgerTest, NewEntryRunsItsInsertAgainWhenAnotherPosterGetsThereFirst) {
  CountNewEntryInserts();
  const std::pair<const char*, const char*> cases[] = {
      {"INSERT INTO TB_CTG_CADLAN (CODEMP, NUMLAN, INTLAN) VALUES (1, 101, 0)", "102"},
      {"UPDATE TB_CTG_NUMLAN SET NOLANCA = 110 WHERE CODEMP = 1", "111"},
  };
  for (const auto& [outro, numero] : cases) {
    SCOPED_TRACE(outro);
    db.ExecScript(
        "DELETE FROM TB_CTG_CADLAN; UPDATE TB_CTG_NUMLAN SET NOLANCA = 100; "
        "UPDATE TB_CTG_CADPLA SET SLDD12 = 0, SLDC12 = 0; DELETE FROM TB_GER_LOGSYS; "
        "SET GENERATOR G_TENTATIVAS TO 0;");
    M.Conexao.BeginTrans();
    int32_t r = 0;
    {
      Competitor c(db, outro, "INSERT INTO TB_CTG_CADLAN");
      r = LanCtg(M, -1, "1.1.01", "3.1.02", DateTime::Date(2017, 12, 25), Currency::Parse("10,5"),
                 "DOC-7", "", "", "", "");
    }
    M.Conexao.CommitTrans();
    EXPECT_EQ(std::to_string(r), numero);
    EXPECT_EQ(NewEntryInserts(), 2);
    EXPECT_EQ(db.Rows("SELECT NUMLAN FROM TB_CTG_CADLAN WHERE INTLAN = -1"), (Linhas{{numero}}));
    EXPECT_EQ(NonZeroTotals(), kUmaEntrada);
    EXPECT_EQ(Logs(), kLogUmaEntrada);
    EXPECT_EQ(Errors(), Linhas{});
  }
}

// The numbering row behind an entry already written: every try collides, so
// the posting gives up after a hundred and is recorded, instead of spinning.
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
  EXPECT_EQ(Errors(), (Linhas{{"LanCtg", "-803-", insert.substr(0, 250)}}));
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN"), 1);
  EXPECT_EQ(NonZeroTotals(), Totais{});
  EXPECT_EQ(Logs(), Linhas{});
}

// A duplicate (in the activity log) or a lock conflict (on the old entry's
// delete) of a step other than the two inserts is recorded under LanCtg; no
// insert runs again, so nothing is posted twice.
TEST_F(LedgerTest, ConflictsOutsideTheInsertsAreRecordedWithoutPostingAgain) {
  db.Exec("INSERT INTO TB_GER_LOGSYS (SEQLOG, OPELOG) VALUES (1, 'ocupa')");  // the next SEQLOG
  EXPECT_EQ(PostNew(), 0);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN"), 1);
  EXPECT_EQ(NonZeroTotals(), kUmaEntrada);

  db.ExecScript("DELETE FROM TB_CTG_CADLAN; UPDATE TB_CTG_CADPLA SET SLDD12 = 0, SLDC12 = 0;");
  SeedEntry125();
  int32_t r = -1;
  {
    Competitor c(db, "UPDATE TB_CTG_CADLAN SET DOCLAN = 'outro' WHERE CODEMP = 1 AND NUMLAN = 125",
                 "Delete From Tb_Ctg_CadLan");
    r = Repost125();
  }
  EXPECT_EQ(r, 0);
  EXPECT_EQ(db.Rows("SELECT DOCLAN FROM TB_CTG_CADLAN WHERE CODEMP = 1"), (Linhas{{"outro"}}));
  // Only the old entry's take-out, once.
  EXPECT_EQ(NonZeroTotals(), Cadeias({{k110101, "SLDC3", "40"}, {k310201, "SLDD3", "40"}}));
  EXPECT_EQ(Errors(/*sql=*/false), (Linhas{{"LanCtg", "-803-"}, {"LanCtg", "-913-"}}));
  EXPECT_EQ(Logs(), (Linhas{{"ocupa", "<null>"}}));
}

}  // namespace
}  // namespace kz

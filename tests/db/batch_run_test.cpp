// The built program end to end: settings files in a folder, a fresh
// database, the exit status, the report byte for byte and the books.
#include <gtest/gtest.h>

#include "tests/support/batch_runner.h"
#include "tests/support/books.h"
#include "tests/support/sales_fixture.h"

namespace kz {
namespace {

using test::BatchResult;
using test::BatchRunner;
using test::ReportHeader;
using test::ReportLine;
using test::TestDb;

using Rows = std::vector<std::vector<std::string>>;

// Commitments 7 (duplicates, statistics), 8 (card) and 9 (cheque, statistics)
// with status -7, and the receivables their payments created.
void SeedThreeCommitments(TestDb& db) {
  test::SeedBasics(db);
  test::SeedSales(db);
  test::InsereEmpenho(db, 7, 88, 1, "U1", -7, {{11, "2", "10.50"}, {12, "3", "4.00"}},
                      {{1, "150.00"}});
  test::InsereEmpenho(db, 8, 89, 0, "", -7, {{11, "1", "10.50"}}, {{2, "100.00"}});
  test::InsereEmpenho(db, 9, 90, 1, "", -7, {{12, "1", "4.00"}},
                      {{3, "50.00", "000123", "001", "0456"}});
  test::InsereEmpenho(db, 10, 91, 1, "", 2, {{11, "9", "1.00"}}, {{4, "9.00"}});
  db.ExecScript(R"(
INSERT INTO TB_REC_CADFAT VALUES (88, '7*', '0', '0', '0', 150);
INSERT INTO TB_REC_CADDUP VALUES (88, '7*', '0', '0', '0', 1, 150);
INSERT INTO TB_REC_CADFAT VALUES (4, '12-2017', '0', '0', '0', 1000);
INSERT INTO TB_REC_CADDUP VALUES (4, '12-2017', '0', '0', '0', 1, 500);
INSERT INTO TB_REC_CADDUP VALUES (4, '12-2017', '0', '0', '0', 2, 500);
INSERT INTO TB_REC_CADFAT VALUES (90, '000123', '001', '0456', '9', 50);
INSERT INTO TB_REC_CADDUP VALUES (90, '000123', '001', '0456', '9', 1, 50);
INSERT INTO TB_VDA_VENPRO (PROVEN, ANOVEN, MES12) VALUES (11, 2017, 20);
)");
}

void ExpectThreeCommitmentsCancelled(TestDb& db, const BatchResult& r) {
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.report, ReportHeader() + ReportLine(" 7 ", "Cancelado !") +
                          ReportLine(" 8 ", "Cancelado !") + ReportLine(" 9 ", "Cancelado !"));
  EXPECT_EQ(db.Rows("SELECT CODEPN, STAEPN FROM TB_VDA_CADEPN ORDER BY CODEPN"),
            (Rows{{"7", "4"}, {"8", "4"}, {"9", "4"}, {"10", "2"}}));
  // Both stock procedures ran once, after the last commitment: they saw the
  // items of all three.
  EXPECT_EQ(db.Rows("SELECT TIPMOV, PROMOV, QTDMOV, STAMOV, USUMOV FROM TB_EST_MOVEST "
                    "ORDER BY TIPMOV, PROMOV"),
            (Rows{{"E", "11", "3", "-7", "12"},
                  {"E", "12", "4", "-7", "12"},
                  {"S", "11", "3", "-7", "12"},
                  {"S", "12", "4", "-7", "12"}}));
  EXPECT_EQ(db.Rows("SELECT OPELOG, TABLOG FROM TB_GER_LOGSYS WHERE OPELOG = 'Cancela'"),
            (Rows{{"Cancela", "Empenhos de 100 a 180"}}));
  // Receivables: duplicates and cheque deleted, card invoice reduced by 97.5.
  EXPECT_EQ(db.Rows("SELECT CLIFAT, CODFAT, VALFAT FROM TB_REC_CADFAT"),
            (Rows{{"4", "12-2017", "902,5"}}));
  EXPECT_EQ(db.Rows("SELECT NUMPAR, VALDUP FROM TB_REC_CADDUP ORDER BY NUMPAR"),
            (Rows{{"1", "402,5"}, {"2", "500"}}));
  EXPECT_EQ(db.Rows("SELECT PROVEN, MES12 FROM TB_VDA_VENPRO ORDER BY PROVEN"),
            (Rows{{"11", "18"}, {"12", "-4"}}));
  // One cost entry and one payment entry per commitment.
  EXPECT_EQ(db.Rows("SELECT DOCLAN, CTADEB, CTACRE, VALLAN, HISLAN1, HISLAN2 FROM TB_CTG_CADLAN "
                    "ORDER BY NUMLAN"),
            (Rows{{"7", "1.1.03", "4.1.01", "33", "EXTORNO CUSTO MERC VENDIDA", ""},
                  {"7", "3.1.02", "1.1.01", "150", "CANCELAMENTO DE EMPENHO", "DUPLICATA 30 DIAS"},
                  {"8", "1.1.03", "4.1.01", "10,5", "EXTORNO CUSTO MERC VENDIDA", ""},
                  {"8", "3.1.02", "1.1.01", "100", "CANCELAMENTO DE EMPENHO", "CARTAO DE CREDITO"},
                  {"9", "1.1.03", "4.1.01", "4", "EXTORNO CUSTO MERC VENDIDA", ""},
                  {"9", "3.1.02", "1.1.01", "50", "CANCELAMENTO DE EMPENHO", "CHEQUE PRE"}}));
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM RETORNOLANCA"), 0);
  EXPECT_EQ(db.Count("SELECT COUNT(DISTINCT NUMLAN) FROM TB_CTG_CADLAN"), 6);
  EXPECT_EQ(test::BooksMismatches(db), std::vector<std::string>{});
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO"), 0);
}

TEST(BatchRun, CancelsEveryCommitmentOfTheStatusInOneRun) {
  TestDb db;
  SeedThreeCommitments(db);
  BatchRunner run(db);
  run.WriteDefaultFor(db);
  run.WriteRunLine("25/12/2017|-7|100|180|12");
  const BatchResult r = run.Run();
  ExpectThreeCommitmentsCancelled(db, r);
  EXPECT_NE(r.err.find("3 empenhos cancelados"), std::string::npos) << r.err;
}

TEST(BatchRun, CancelsThroughTheServerToo) {
  if (!test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
  TestDb db(/*server=*/true);
  SeedThreeCommitments(db);
  BatchRunner run(db);
  run.WriteDefaultFor(db);
  run.WriteRunLine("25/12/2017|-7|100|180|12");
  ExpectThreeCommitmentsCancelled(db, run.Run());
}

TEST(BatchRun, RefusesInvalidMarksAndEmptySelectionsTouchingNothing) {
  for (const char* mark : {"0", "", "5", "-8"}) {
    SCOPED_TRACE(mark);
    TestDb db;
    SeedThreeCommitments(db);
    BatchRunner run(db);
    run.WriteDefaultFor(db);
    run.WriteRunLine(std::string("25/12/2017|") + mark + "|100|180|12");
    const BatchResult r = run.Run();
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.report, ReportHeader());
    EXPECT_EQ(r.err, "Cancelamento de Empenhos: Parametros de Liberação Invalidos !\n");
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN"), 0);
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_LOGSYS"), 0);
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO"), 0);
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = 4"), 0);
  }
}

// A failing commitment rolls the whole run back: only its error row stays,
// and the report names the commitment that was being cancelled.
TEST(BatchRun, AFailingCommitmentRollsEverythingBack) {
  struct Case {
    const char* name;
    int tpv;
    std::vector<test::Item> items;
    std::vector<test::Pagamento> payments;
    const char* routine;
    const char* sql;
  } cases[] = {
      {"no payment rows",
       0,
       {{12, "1", "4.00"}},
       {},
       "CancEpn",
       "Select * From EpnPag_Cpg Where EpnPag=9"},
      {"no items, statistics",
       1,
       {},
       {{4, "1.00"}},
       "EstatVenda",
       " SELECT PROEPNIT,SUM(QTDEPNIT) as SomaPro  FROM TB_VDA_CADEPNIT WHERE CODEPNIT=9 GROUP BY "
       "PROEPNIT"},
      {"no items, cost",
       0,
       {},
       {{4, "1.00"}},
       "LancaCMV",
       "SELECT SUM(QTDEPNIT*CTOEPNIT) AS CMV FROM TB_VDA_CADEPNIT WHERE CODEPNIT=9 GROUP BY "
       "CODEPNIT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestDb db;
    test::SeedBasics(db);
    test::SeedSales(db);
    test::InsereEmpenho(db, 7, 88, 1, "", -7, {{11, "2", "10.50"}}, {{4, "21.00"}});
    test::InsereEmpenho(db, 9, 88, c.tpv, "", -7, c.items, c.payments);
    BatchRunner run(db);
    run.WriteDefaultFor(db);
    run.WriteRunLine("25/12/2017|-7|100|180|12");
    const BatchResult r = run.Run();
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.report, ReportHeader() + ReportLine(" 9 ", "Erro Cancelamento !"));
    EXPECT_EQ(
        r.err,
        "Cancelamento de Empenhos: Erro de Sistema. Por favor Comunique ao Administrador !\n");
    EXPECT_EQ(db.Rows("SELECT PROCEDIMENTO, CODIGO_SQL FROM TB_GER_ERRQUBO"),
              (Rows{{c.routine, c.sql}}));
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN"), 0);
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_LOGSYS"), 0);
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = -7"), 2);
    EXPECT_EQ(db.Count("SELECT SUM(SLDD12) + SUM(SLDC12) FROM TB_CTG_CADPLA"), 0);
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_EST_MOVEST"), 0);
  }
}

TEST(BatchRun, LedgerErrorsAreRecordedAndTheRunStillCommits) {
  TestDb db;
  test::SeedBasics(db);
  test::SeedSales(db);
  db.Exec("INSERT INTO TB_VDA_CADCPG VALUES (6, 'SEM CONTA', '', '3.1.02', 0, NULL)");
  test::InsereEmpenho(db, 7, 88, 0, "", -7, {{11, "1", "1.00"}}, {{6, "5.00"}});
  BatchRunner run(db);
  run.WriteDefaultFor(db);
  run.WriteRunLine("25/12/2017|-7|100|180|12");
  const BatchResult r = run.Run();
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.report, ReportHeader() + ReportLine(" 7 ", "Cancelado !"));
  EXPECT_EQ(db.Rows("SELECT PROCEDIMENTO FROM TB_GER_ERRQUBO"), (Rows{{"IncPlan"}}));
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = 4"), 1);
}

TEST(BatchRun, StartUpFailuresExitFourAndChangeNothing) {
  struct Case {
    const char* name;
    const char* run_line;
    const char* missing;
    const char* message;
  } cases[] = {
      {"no default.txt", "25/12/2017|-7|1|2|12", "default.txt", "Erro 53: "},
      {"no Tarvelinko.txt", "25/12/2017|-7|1|2|12", "Tarvelinko.txt", "Erro 53: "},
      {"date is no date", "31/02/2017|-7|1|2|12", "", "Erro 13: "},
      {"two fields only", "25/12/2017|-7", "", "Erro 13: "},
      {"mark out of range", "25/12/2017|-9999999999|1|2|12", "", "Erro 6: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestDb db;
    SeedThreeCommitments(db);
    BatchRunner run(db);
    run.WriteDefaultFor(db);
    run.WriteRunLine(c.run_line);
    if (*c.missing) run.RemoveSetting(c.missing);
    const BatchResult r = run.Run();
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err.rfind(std::string("Cancelamento de Empenhos: ") + c.message, 0), 0u) << r.err;
    EXPECT_EQ(r.report, "");
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO"), 0);
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = 4"), 0);
  }
}

TEST(BatchRun, ABadPasswordExitsFourWithoutShowingIt) {
  if (!test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
  TestDb db(/*server=*/true);
  BatchRunner run(db);
  run.WriteDefault("TIPO=2;DBNAME=" + db.Location(), "SYSDBA", "segredo-errado");
  run.WriteRunLine("25/12/2017|-7|1|2|12");
  const BatchResult r = run.Run();
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err.find("segredo-errado"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("user name and password"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kz

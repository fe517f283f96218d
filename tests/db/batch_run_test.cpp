// The built program end to end: settings files in a folder, a fresh
// database, the exit status, the report byte for byte and the books.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "tests/support/batch_runner.h"
#include "tests/support/sales_fixture.h"
#include "tests/support/snapshot.h"
#include "tests/support/sql_script.h"

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
  for (bool server : {false, true}) {
    SCOPED_TRACE(server ? "server" : "embedded");
    if (server && !test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
    TestDb db(server);
    SeedThreeCommitments(db);
    BatchRunner run(db);
    run.WriteDefaultFor(db);
    if (!server) {
      // A login that holds only the role the run needs (the embedded engine
      // checks grants by user name too).
      db.ExecScript(test::ReadFile(KZ_SOURCE_DIR "/sql/grants.sql"));
      db.Exec("GRANT KZ_CANCELA_EMPENHOS TO USER KZ_LOTE");
      run.WriteDefault("TIPO=2;DBNAME=" + db.Location() + ";ROLE=KZ_CANCELA_EMPENHOS", "KZ_LOTE",
                       "");
    }
    run.WriteRunLine("25/12/2017|-7|100|180|12");
    // A login others may read is warned about, and the run goes on.
    if (!server)
      std::filesystem::permissions(run.Dir() / "default.txt", std::filesystem::perms::others_read,
                                   std::filesystem::perm_options::add);
    const BatchResult r = run.Run();
    ExpectThreeCommitmentsCancelled(db, r);
    EXPECT_NE(r.err.find("3 empenhos cancelados"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("Cancelamento de Empenhos: aviso: ", 0) == 0, !server) << r.err;
  }
}

// A zero or positive mark (a positive one would re-post real entries) and a
// selection without commitments are refused with the header-only report.
TEST(BatchRun, RefusesInvalidMarksAndEmptySelectionsTouchingNothing) {
  TestDb db;
  SeedThreeCommitments(db);
  for (int mark : {0, 5}) {  // commitments a wrongly accepted mark would cancel
    test::InsereEmpenho(db, 20 + mark, 92, 1, "", mark, {{11, "1", "1.00"}}, {{4, "1.00"}});
  }
  const std::vector<std::string> before = test::Snapshot(db);
  for (const std::string mark : {"0", "5", "-8"}) {
    SCOPED_TRACE(mark);
    BatchRunner run(db, "run" + mark);
    run.WriteDefaultFor(db);
    run.WriteRunLine("25/12/2017|" + mark + "|100|180|12");
    const BatchResult r = run.Run();
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.report, ReportHeader());
    EXPECT_TRUE(r.err.ends_with("Cancelamento de Empenhos: Parametros de Liberação Invalidos !\n"))
        << r.err;
  }
  EXPECT_EQ(test::SnapshotDiff(before, test::Snapshot(db)), std::vector<std::string>{});
}

// A failing commitment rolls the whole run back: only its error row stays,
// and the report names the commitment that was being cancelled. A trigger's
// message that says "deadlock" is an error like any other: no retry, no spin.
TEST(BatchRun, AFailingCommitmentRollsEverythingBack) {
  const std::vector<test::Item> items = {{12, "1", "4.00"}};
  const struct {
    const char* routine;
    int tpv;
    std::vector<test::Item> items;
    std::vector<test::Pagamento> payments;
    const char* prepara;
    const char* sql;  // what Sql held
  } cases[] = {
      {"CancEpn", 0, items, {}, "", "Select * From EpnPag_Cpg Where EpnPag=9"},
      {"EstatVenda",
       1,
       {},
       {{4, "1.00"}},
       "",
       " SELECT PROEPNIT,SUM(QTDEPNIT) as SomaPro  FROM TB_VDA_CADEPNIT WHERE CODEPNIT=9 GROUP BY "
       "PROEPNIT"},
      {"LancaCMV",
       0,
       {},
       {{4, "1.00"}},
       "",
       "SELECT SUM(QTDEPNIT*CTOEPNIT) AS CMV FROM TB_VDA_CADEPNIT WHERE CODEPNIT=9 GROUP BY "
       "CODEPNIT"},
      {"GravaCartao",
       0,
       items,
       {{2, "1.00"}},
       "CREATE EXCEPTION EX_TENTE 'deadlock avoided, try later'; SET TERM ^ ; CREATE TRIGGER "
       "TG_TENTE FOR TB_REC_CADFAT BEFORE UPDATE AS BEGIN EXCEPTION EX_TENTE; END^ SET TERM ; ^"
       "INSERT INTO TB_REC_CADFAT VALUES (4, '12-2017', '0', '0', '0', 1000);",
       " UPDATE TB_REC_CADFAT SET VALFAT=VALFAT - (0.975)  WHERE CLIFAT=4 AND CODFAT='12-2017' AND "
       "BcoFat='0' AND AgcFat='0' AND ConFat='0'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.routine);
    TestDb db;
    test::SeedBasics(db);
    test::SeedSales(db);
    db.ExecScript(c.prepara);
    test::InsereEmpenho(db, 7, 88, 1, "", -7, {{11, "2", "10.50"}}, {{4, "21.00"}});
    test::InsereEmpenho(db, 9, 88, c.tpv, "", -7, c.items, c.payments);
    const std::vector<std::string> before = test::Snapshot(db);
    BatchRunner run(db);
    run.WriteDefaultFor(db);
    run.WriteRunLine("25/12/2017|-7|100|180|12");
    const BatchResult r = run.WaitAtMost(run.Start(), std::chrono::seconds(60));
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.report, ReportHeader() + ReportLine(" 9 ", "Erro Cancelamento !"));
    EXPECT_TRUE(r.err.ends_with(
        "Cancelamento de Empenhos: Erro de Sistema. Por favor Comunique ao Administrador !\n"))
        << r.err;
    // Nothing of the run is left but its error row.
    const std::vector<std::string> diff = test::SnapshotDiff(before, test::Snapshot(db));
    ASSERT_EQ(diff.size(), 1u) << testing::PrintToString(diff);
    EXPECT_EQ(diff[0].rfind(std::string("+ TB_GER_ERRQUBO|") + c.routine + "|", 0), 0u) << diff[0];
    EXPECT_TRUE(diff[0].ends_with(std::string("|") + c.sql)) << diff[0];
  }
}

// An error the ledger records (an empty account) does not stop the run: it
// commits, reports the commitment and exits 1.
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

// A start-up failure (a missing settings file, a field that does not convert)
// exits 4 with the error on standard error before touching anything.
TEST(BatchRun, StartUpFailuresExitFourAndChangeNothing) {
  const std::tuple<const char*, const char*, const char*> cases[] = {
      // run line, the settings file removed, the message's start
      {"25/12/2017|-7|1|2|12", "default.txt", "Erro 53: "},
      {"25/12/2017|-7|1|2|12", "Tarvelinko.txt", "Erro 53: "},
      {"31/02/2017|-7|1|2|12", "", "Erro 13: "},
      {"25/12/2017 23:59|-7|1|2|12", "", "Erro 13: "},
      {"25/12/2017|-9999999999|1|2|12", "", "Erro 6: "},
  };
  TestDb db;
  SeedThreeCommitments(db);
  const std::vector<std::string> before = test::Snapshot(db);
  int folder = 0;
  for (const auto& [run_line, missing, message] : cases) {
    SCOPED_TRACE(std::string(run_line) + " " + missing);
    BatchRunner run(db, "run" + std::to_string(++folder));
    run.WriteDefaultFor(db);
    run.WriteRunLine(run_line);
    if (*missing) std::filesystem::remove(run.Dir() / missing);
    const BatchResult r = run.Run();
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err.rfind(std::string("Cancelamento de Empenhos: ") + message, 0), 0u) << r.err;
    EXPECT_EQ(r.report, "");
  }
  EXPECT_EQ(test::SnapshotDiff(before, test::Snapshot(db)), std::vector<std::string>{});
}

// The report is a new regular file of the run, mode 0640, whatever stands at
// its name: a link is never followed, a FIFO never waited on; when it cannot
// be created the run does nothing (start-up failure).
TEST(BatchRun, TheReportIsWrittenAsANewRegularFile) {
  TestDb db;
  SeedThreeCommitments(db);
  const auto report = [](const BatchRunner& r) {
    return r.Dir() / "Resultado do Cancelamento.txt";
  };
  const std::function<void(BatchRunner&)> plants[] = {
      [&](BatchRunner& r) { std::filesystem::create_symlink(r.Dir() / "alvo.txt", report(r)); },
      [&](BatchRunner& r) { std::filesystem::create_symlink(r.Dir() / "nada.txt", report(r)); },
      [&](BatchRunner& r) { ASSERT_EQ(::mkfifo(report(r).c_str(), 0666), 0); },
      [&](BatchRunner& r) { std::filesystem::create_directories(report(r) / "x"); },
  };
  int n = 0;
  for (const auto& plant : plants) {
    SCOPED_TRACE(n);
    const bool pasta = n == 3;
    BatchRunner run(db, "run" + std::to_string(++n));
    run.WriteDefaultFor(db);
    run.WriteRunLine("25/12/2017|0|100|180|12");
    std::ofstream(run.Dir() / "alvo.txt") << "segredo";
    plant(run);
    test::Partida p;
    p.mantem_relatorio = true;
    const BatchResult r = run.WaitAtMost(run.Start(p), std::chrono::seconds(30));
    EXPECT_EQ(r.status, pasta ? 4 : 2) << r.err;
    EXPECT_EQ(test::ReadFile((run.Dir() / "alvo.txt").string()), "segredo");
    EXPECT_FALSE(std::filesystem::exists(run.Dir() / "nada.txt"));
    if (pasta) continue;
    const auto st = std::filesystem::symlink_status(report(run));
    EXPECT_EQ(st.type(), std::filesystem::file_type::regular);
    EXPECT_EQ(st.permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    EXPECT_EQ(r.report, ReportHeader());
  }
}

// The options: --check previews a run and writes nothing (not even the
// report), --help and --version answer, any other argument is ignored.
TEST(BatchRun, OptionsPreviewHelpAndVersion) {
  TestDb db;
  SeedThreeCommitments(db);
  const std::vector<std::string> before = test::Snapshot(db);
  const struct {
    const char* arg;
    const char* mark;
    bool settings;
    int status;
    std::string out;
    bool report;
  } cases[] = {
      {"--check", "-7", true, 0,
       "status -7: 3 empenhos a cancelar (2 com estatistica de vendas)\n"
       "pagamentos duplicatas: 1, total 150\npagamentos cartao: 1, total 100\n"
       "pagamentos cheque: 1, total 50\ncusto das mercadorias a estornar: 47,5\n"
       "lancamentos contabeis a gerar: 6\n",
       false},
      {"--check", "-8", true, 2, "status -8: 0 empenhos a cancelar (0 com estatistica de vendas)\n",
       false},
      {"--check", "0", true, 2, "", false},
      {"--check", "-7", false, 4, "", false},
      {"--version", "-7", true, 0, "cancela-empenhos 1.1.0\n", false},
      {"--outra", "0", true, 2, "", true},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.arg) + " " + c.mark);
    BatchRunner run(db, "run" + std::to_string(++n));
    run.WriteDefaultFor(db);
    run.WriteRunLine(std::string("25/12/2017|") + c.mark + "|100|180|12");
    if (!c.settings) std::filesystem::remove(run.Dir() / "default.txt");
    test::Partida p;
    p.args = {c.arg};
    const BatchResult r = run.Run(p);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(std::filesystem::exists(run.Dir() / "Resultado do Cancelamento.txt"), c.report);
  }
  test::Partida ajuda;
  ajuda.args = {"x", "--help"};
  EXPECT_EQ(BatchRunner(db, "ajuda").Run(ajuda).out.rfind("Uso: cancela-empenhos", 0), 0u);
  EXPECT_EQ(test::SnapshotDiff(before, test::Snapshot(db)), std::vector<std::string>{});
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

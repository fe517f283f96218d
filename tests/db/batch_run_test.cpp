// The built program end to end on a seeded world: settings files in a
// folder, the exit status, what it prints, the report byte for byte, and
// every row it changed.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>

#include "tests/support/fixture.h"

namespace kz::test {
namespace {

namespace fs = std::filesystem;

// On the world of tests/sql/world.sql, one run cancels the four commitments
// of -7 and only them, making exactly the changes of world.expected; it exits
// 1 for the recorded ledger error, and its log rows carry the server's clock
// (month first) and its entries this machine's. Embedded with a login that
// holds only the run's role, and through the server.
TEST(BatchRun, CancelsEveryCommitmentOfTheStatusAndOnlyThem) {
  for (bool server : {false, true}) {
    SCOPED_TRACE(server ? "server" : "embedded");
    TestDb db(server, Seed("basics") + Seed("world"));
    BatchRunner run(db, "run", "15/03/2017|-7|100|180|12");
    if (!server) {
      db.Exec(ReadFile(KZ_SOURCE_DIR "/sql/grants.sql"));
      db.Exec("GRANT KZ_CANCELA_EMPENHOS TO USER KZ_LOTE");
      run.WriteDefault("TIPO=2;DBNAME=" + db.Location() + ";ROLE=KZ_CANCELA_EMPENHOS", "KZ_LOTE",
                       "");
      ::chmod((run.Dir() / "default.txt").c_str(), 0604);  // warned about, and the run goes on
    }
    const Rows before = db.Snapshot();
    const BatchResult r = run.Run();
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.report, ReportHeader() + ReportLine(" 7 ", "Cancelado !") +
                            ReportLine(" 8 ", "Cancelado !") + ReportLine(" 9 ", "Cancelado !") +
                            ReportLine(" 10 ", "Cancelado !"));
    EXPECT_NE(r.err.find(": 4 empenhos cancelados em "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.starts_with("Cancelamento de Empenhos: aviso: "), !server) << r.err;
    // Every change, sorted, but the totals (the books check them).
    Rows expected;
    std::istringstream in(ReadFile(KZ_SOURCE_DIR "/tests/sql/world.expected"));
    for (std::string l; std::getline(in, l);) expected.push_back(l);
    EXPECT_EQ(Diff(before, db.Snapshot(), "TB_CTG_CADPLA"), expected);
    EXPECT_EQ(db.Books(), Rows{});
    char hoje[16];
    const std::time_t t = std::time(nullptr);
    std::strftime(hoje, sizeof hoje, "%m/%d/%Y", std::localtime(&t));
    EXPECT_EQ(db.Select("SELECT DISTINCT CAST(DATLOG AS DATE) - CURRENT_DATE, SUBSTRING(DATHOR "
                        "FROM 1 FOR 10) FROM TB_GER_LOGSYS CROSS JOIN TB_CTG_CADLAN"),
              Rows{std::string("0|") + hoje});
  }
}

// Refusals, start-up failures and the options, on the world: none changes
// anything. A zero or positive mark (a positive one would post real entries
// again) or a selection without commitments is refused with the header-only
// report; a missing file or a field that does not convert exits 4 before
// touching anything; --check previews a run and writes nothing, not even the
// report; any other argument is ignored.
TEST(BatchRun, RefusalsStartUpFailuresAndOptionsChangeNothing) {
  const std::string header = ReportHeader(), no = ": Parametros de Liberação Invalidos !\n";
  const std::string preview =
      "status -7: 4 empenhos a cancelar (1 com estatistica de vendas)\n"
      "pagamentos sem titulo a receber: 2, total 6\npagamentos duplicatas: 2, total 170\n"
      "pagamentos cartao: 3, total 1400\npagamentos cheque: 2, total 57\n"
      "custo das mercadorias a estornar: 48,5\nlancamentos contabeis a gerar: 13\n";
  const struct {
    std::string arg, line, missing;
    int status;
    std::string err, out, report;
  } cases[] = {
      // clang-format off
      {"", "15/03/2017|0|1|2|12", "", 2, no, "", header},
      {"", "15/03/2017|5|1|2|12", "", 2, no, "", header},
      {"", "15/03/2017|-8|1|2|12", "", 2, no, "", header},
      {"", "15/03/2017|-7|1|2|12", "default.txt", 4, ": Erro 53: ", "", ""},
      {"", "31/02/2017|-7|1|2|12", "", 4, ": Erro 13: ", "", ""},
      {"", "25/12/2017 23:59|-7|1|2|12", "", 4, ": Erro 13: ", "", ""},
      {"--check", "15/03/2017|-7|1|2|12", "", 0, "", preview, ""},
      {"--check", "15/03/2017|-8|1|2|12", "", 2, "",
       "status -8: 0 empenhos a cancelar (0 com estatistica de vendas)\n", ""},
      {"--check", "15/03/2017|0|1|2|12", "", 2, "", "", ""},
      {"--check", "15/03/2017|-7|1|2|12", "default.txt", 4, ": Erro 53: ", "", ""},
      {"--version", "15/03/2017|-7|1|2|12", "", 0, "", "cancela-empenhos 1.1.0\n", ""},
      {"--outra", "15/03/2017|0|1|2|12", "", 2, "", "", header},
      // clang-format on
  };
  TestDb db(false, Seed("basics") + Seed("world"));
  const Rows before = db.Snapshot();
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg + " " + c.line + " " + c.missing);
    BatchRunner run(db, "run" + std::to_string(++n), c.line);
    if (!c.missing.empty()) fs::remove(run.Dir() / c.missing);
    const BatchResult r =
        run.Run({.args = c.arg.empty() ? std::vector<std::string>{} : std::vector{c.arg}});
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.report, c.report);
  }
  EXPECT_TRUE(BatchRunner(db, "ajuda")
                  .Run({.args = {"x", "--help"}})
                  .out.starts_with("Uso: cancela-empenhos"));
  EXPECT_EQ(Diff(before, db.Snapshot()), Rows{});
}

// A failure rolls the whole run back: only its error row stays, naming the
// routine and the statement, and the report names the commitment being
// cancelled, or none when the failure came after the last one (in a stock
// procedure). A trigger's message that says "deadlock" is an error like any
// other: no retry, no spin. Each case is a status of its own.
TEST(BatchRun, AFailureRollsEverythingBack) {
  TestDb db(false, Seed("basics") + Seed("failures"));
  const struct {
    const char* mark;
    const char* code;   // in the report
    std::string error;  // the error row's start
  } cases[] = {
      {"-1", " 31 ", "CancEpn|3021-|Select * From EpnPag_Cpg Where EpnPag=31"},
      {"-2", " 32 ",
       "EstatVenda|3021-| SELECT PROEPNIT,SUM(QTDEPNIT) as SomaPro  FROM TB_VDA_CADEPNIT WHERE "
       "CODEPNIT=32 GROUP BY PROEPNIT"},
      {"-3", " 33 ",
       "LancaCMV|3021-|SELECT SUM(QTDEPNIT*CTOEPNIT) AS CMV FROM TB_VDA_CADEPNIT WHERE CODEPNIT=33 "
       "GROUP BY CODEPNIT"},
      {"-4", " 34 ",
       "GravaCartao|-836-| UPDATE TB_REC_CADFAT SET VALFAT=VALFAT - (0.975)  WHERE CLIFAT=4 AND "
       "CODFAT='12-2017' AND BcoFat='0' AND AgcFat='0' AND ConFat='0'"},
      {"-5", " 35 ", "GravaChq|94-|"},
      {"-6", "", "Processa|-836-|EXECUTE PROCEDURE CANCELA_SAIDA_ESTOQUE (-6,12)"},
  };
  const Rows before = db.Snapshot();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mark);
    BatchRunner run(db, std::string("run") + c.mark,
                    std::string("25/12/2017|") + c.mark + "|100|180|12");
    const BatchResult r = run.Wait(run.Start());
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.report, ReportHeader() + ReportLine(c.code, "Erro Cancelamento !"));
    EXPECT_TRUE(r.err.ends_with(
        "Cancelamento de Empenhos: Erro de Sistema. Por favor Comunique ao Administrador !\n"))
        << r.err;
    const Rows diff = Diff(before, db.Snapshot());
    ASSERT_EQ(diff.size(), 1u) << testing::PrintToString(diff);
    EXPECT_TRUE(diff[0].starts_with("+ TB_GER_ERRQUBO|" + c.error)) << diff[0];
    db.Exec("DELETE FROM TB_GER_ERRQUBO");
  }
}

// The report is a new regular file of the run, mode 0640, whatever stands at
// its name: a link is never followed, a FIFO never waited on; when it cannot
// be created the run does nothing (start-up failure). Once the commit is
// made nothing turns the run into a failure: a working folder removed
// meanwhile, a standard error nobody reads. Case k cancels commitment k, of
// status -k.
TEST(BatchRun, TheReportIsANewFileAndAfterTheCommitNothingFails) {
  std::string seed = Seed("basics");
  for (int k = 1; k <= 6; ++k) seed += Mixed(k, 1, -k);
  TestDb db(false, seed);
  const Partida pausa{.env = {{"KZ_PAUSA_TESTE", "commit"}}}, fechado{.erro_fechado = true},
      mantem{.mantem_relatorio = true};
  const struct {
    std::function<void(const fs::path&)> plant;
    Partida partida;
    int status;
  } cases[] = {
      {[](const auto& f) { fs::create_symlink(f.parent_path() / "alvo.txt", f); }, mantem, 0},
      {[](const auto& f) { fs::create_symlink(f.parent_path() / "nada.txt", f); }, mantem, 0},
      {[](const auto& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0666), 0); }, mantem, 0},
      {[](const auto& f) { fs::create_directories(f / "x"); }, mantem, 4},
      {[](const auto&) {}, pausa, 0},
      {[](const auto&) {}, fechado, 0},
  };
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(k);
    const auto& c = cases[k - 1];
    BatchRunner run(db, "run" + std::to_string(k), "25/12/2017|-" + std::to_string(k) + "|1|2|12");
    const auto report = run.Dir() / "Resultado do Cancelamento.txt";
    std::ofstream(run.Dir() / "alvo.txt") << "segredo";
    c.plant(report);
    const int pid = run.Start(c.partida);
    if (k == 5) {
      ASSERT_TRUE(run.WaitPaused(pid));
      fs::remove_all(run.Dir());
      ::kill(pid, SIGCONT);
    }
    const BatchResult r = run.Wait(pid, std::chrono::seconds(30));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(db.Count("SELECT STAEPN FROM TB_VDA_CADEPN WHERE CODEPN = " + std::to_string(k)),
              c.status == 4 ? -k : 4);
    if (k > 3) continue;
    EXPECT_EQ(ReadFile((run.Dir() / "alvo.txt").string()), "segredo");
    EXPECT_FALSE(fs::exists(run.Dir() / "nada.txt"));
    EXPECT_EQ(r.report, ReportHeader() + ReportLine(" " + std::to_string(k) + " ", "Cancelado !"));
    struct stat st {};
    ASSERT_EQ(::lstat(report.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | 0640);
  }
  EXPECT_EQ(db.Books(), Rows{});
}

}  // namespace
}  // namespace kz::test

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
// holds only the run's role (UPDATE granted by column), and through the
// server. In a UTF8 database, reached with the short form that names no
// character set, a payment condition's name with letters WIN1252 lacks goes
// into its entry's history byte for byte; read through a WIN1252 connection
// it cannot be converted, and the run says where and rolls back.
TEST(BatchRun, CancelsEveryCommitmentOfTheStatusAndOnlyThem) {
  const std::string nome = "CARTÃO Łódź ő ş Ж ✓";
  const struct {
    const char* name;
    bool server;
    const char *charset, *item;
    int status;
  } cases[] = {
      {"embedded, the role's login", false, "WIN1252", "", 1},
      {"server", true, "WIN1252", "", 1},
      {"UTF8, embedded", false, "UTF8", "", 1},
      {"UTF8, server", true, "UTF8", "", 1},
      {"UTF8 read as WIN1252", false, "UTF8", ";CHARSET=WIN1252", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool utf8 = std::string(c.charset) == "UTF8";
    TestDb db(
        c.server,
        Seed("basics") + Seed("world") +
            (utf8 ? "UPDATE TB_VDA_CADCPG SET NOMCPG = " + Lit(nome) + " WHERE CODCPG = 2;" : ""),
        c.charset);
    BatchRunner run(db, "run", "15/03/2017|-7|100|180|12");
    run.WriteDefault("TIPO=2;DBNAME=" + db.Location() + c.item, "SYSDBA", db.Password());
    if (c.name == cases[0].name) {
      db.GrantRole("KZ_LOTE", "");
      EXPECT_EQ(
          db.Count("SELECT COUNT(*) FROM RDB$USER_PRIVILEGES WHERE RDB$USER = "
                   "'KZ_CANCELA_EMPENHOS' AND RDB$PRIVILEGE = 'U' AND RDB$FIELD_NAME IS NULL"),
          0);
      run.WriteDefault("TIPO=2;DBNAME=" + db.Location() + ";ROLE=KZ_CANCELA_EMPENHOS", "KZ_LOTE",
                       "");
      ::chmod((run.Dir() / "default.txt").c_str(), 0604);  // warned about, and the run goes on
    }
    const Rows before = db.Snapshot();
    const BatchResult r = run.Run();
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.status == 3) {
      EXPECT_EQ(r.report, ReportHeader() + ReportLine(" 8 ", "Erro Cancelamento !"));
      EXPECT_NE(r.err.find("SELECT FROM EPNPAG_CPG: um texto nao pode ser convertido"),
                std::string::npos)
          << r.err;
      EXPECT_EQ(Diff(before, db.Snapshot()),
                Rows{"+ TB_GER_ERRQUBO|CancEpn|-802-|Select * From EpnPag_Cpg Where EpnPag=8"});
      continue;
    }
    EXPECT_EQ(r.report, ReportHeader() + ReportLine(" 7 ", "Cancelado !") +
                            ReportLine(" 8 ", "Cancelado !") + ReportLine(" 9 ", "Cancelado !") +
                            ReportLine(" 10 ", "Cancelado !"));
    EXPECT_NE(r.err.find(": 4 empenhos cancelados em "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("; resposta do commit esperada por ate 120 s\n") != std::string::npos,
              c.server)
        << r.err;
    EXPECT_EQ(r.err.starts_with("Cancelamento de Empenhos: aviso: "), c.name == cases[0].name)
        << r.err;
    // Every change, sorted, but the totals (the books check them).
    Rows expected;
    std::istringstream in(ReadFile(KZ_SOURCE_DIR "/tests/sql/world.expected"));
    for (std::string l; std::getline(in, l);) {
      if (utf8 && l.find("|CARTAO DE CREDITO|") != std::string::npos) {
        l.replace(l.find("CARTAO DE CREDITO"), 17, nome);
      }
      expected.push_back(l);
    }
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
// report; a missing or unreadable file (a FIFO nobody writes), a field or a
// switch that does not convert, a login without the run's role or a
// read-only database exit 4 before touching anything; --check previews a run
// and writes nothing, not even the report; any other argument is ignored.
TEST(BatchRun, RefusalsStartUpFailuresAndOptionsChangeNothing) {
  const std::string header = ReportHeader(), no = ": Parametros de Liberação Invalidos !\n";
  const std::string preview =
      "status -7: 4 empenhos a cancelar (1 com estatistica de vendas)\n"
      "pagamentos sem titulo a receber: 2, total 6\npagamentos duplicatas: 2, total 170\n"
      "pagamentos cartao: 3, total 1400\npagamentos cheque: 2, total 57\n"
      "custo das mercadorias a estornar: 48,5\nlancamentos contabeis a gerar: 13\n";
  const std::string ok = "15/03/2017|-7|1|2|12";
  TestDb db(false, Seed("basics") + Seed("world"));
  const auto fifo = [](BatchRunner& r) {
    fs::remove(r.Dir() / "default.txt");
    ::mkfifo((r.Dir() / "default.txt").c_str(), 0600);
  };
  const auto sem_papel = [&db](BatchRunner& r) {
    r.WriteDefault("TIPO=2;DBNAME=" + db.Location() + ";ROLE=KZ_CANCELA_EMPENHO", "KZ_SEM", "");
  };
  const auto somente_leitura = [&db](BatchRunner&) {
    db.Detach();
    ASSERT_EQ(std::system(("gfix -mode read_only " + Lit(db.Location())).c_str()), 0);
  };
  const struct {
    std::string arg, line;
    std::function<void(BatchRunner&)> prepare;
    int status;
    std::string err, out, report;
    Partida partida{};
  } cases[] = {
      // clang-format off
      {"", "15/03/2017|0|1|2|12", {}, 2, no, "", header},
      {"", "15/03/2017|5|1|2|12", {}, 2, no, "", header},
      {"", "15/03/2017|-8|1|2|12", {}, 2, no, "", header},
      {"", ok, [](BatchRunner& r) { fs::remove(r.Dir() / "default.txt"); }, 4, ": Erro 53: ", "", ""},
      {"", ok, fifo, 4, ": Erro 53: ", "", ""},
      {"", "31/02/2017|-7|1|2|12", {}, 4, ": Erro 13: ", "", ""},
      {"", "25/12/2017 23:59|-7|1|2|12", {}, 4, ": Erro 13: ", "", ""},
      {"", ok, {}, 4, ": Erro 13: Type mismatch: KZ_LOCK_TIMEOUT=600s", "", "",
       {.env = {{"KZ_LOCK_TIMEOUT", "600s"}}}},
      {"", ok, sem_papel, 4, ": Erro -551: o login KZ_SEM nao tem um papel que conceda o que a "
       "execucao precisa (esperado: KZ_CANCELA_EMPENHO, em uso: NONE)", "", ""},
      {"--check", ok, {}, 0, "", preview, ""},
      {"--check", "15/03/2017|-8|1|2|12", {}, 2, "",
       "status -8: 0 empenhos a cancelar (0 com estatistica de vendas)\n", ""},
      {"--check", "15/03/2017|0|1|2|12", {}, 2, "", "", ""},
      {"--check", ok, [](BatchRunner& r) { fs::remove(r.Dir() / "default.txt"); }, 4,
       ": Erro 53: ", "", ""},
      {"--version", ok, {}, 0, "", "cancela-empenhos 1.1.0\n", ""},
      {"--outra", "15/03/2017|0|1|2|12", {}, 2, "", "", header},
      {"", ok, somente_leitura, 4, ": Erro -817: o banco de dados esta somente para leitura", "", ""},
      {"--check", ok, {}, 0, "", preview, ""},  // still read only
      // clang-format on
  };
  const Rows before = db.Snapshot();
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(n) + " " + c.arg + " " + c.line);
    BatchRunner run(db, "run" + std::to_string(++n), c.line);
    if (c.prepare) c.prepare(run);
    Partida p = c.partida;
    if (!c.arg.empty()) p.args = {c.arg};
    const BatchResult r = run.Run(p);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.report, c.report);
  }
  EXPECT_TRUE(BatchRunner(db, "ajuda")
                  .Run({.args = {"x", "--help"}})
                  .out.starts_with("Uso: cancela-empenhos"));
  ASSERT_EQ(std::system(("gfix -mode read_write " + Lit(db.Location())).c_str()), 0);
  EXPECT_EQ(Diff(before, db.Snapshot()), Rows{});
}

// A failure rolls the whole run back: only its error row stays, naming the
// routine and the statement, and the report names the commitment being
// cancelled, or none when the failure came after the last one (in a stock
// procedure). A trigger's message that says "deadlock" is an error like any
// other: no retry, no spin. A stop request at the closing or just before the
// commit undoes the run and records the stop. An embedded commit that takes
// longer than the commit timeout is waited for: no network can lose its
// answer. Each case is a status of its own.
TEST(BatchRun, AFailureRollsEverythingBack) {
  TestDb db(false, Seed("basics") + Seed("failures"));
  const struct {
    const char* mark;
    const char* code;   // in the report
    std::string error;  // the error row's start
    const char* pausa = "";
    int status = 3;
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
      {"-7", "", "Processa|18-|", "fechamento"},
      {"-8", "", "Processa|18-|", "commit"},
      {"-9", "", "", "", 0},
  };
  const Rows before = db.Snapshot();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mark);
    BatchRunner run(db, std::string("run") + c.mark,
                    std::string("25/12/2017|") + c.mark + "|100|180|12");
    const int pid = run.Start({.env = {{"KZ_PAUSA_TESTE", c.pausa}, {"KZ_COMMIT_TIMEOUT", "1"}}});
    if (*c.pausa) {
      ASSERT_TRUE(run.WaitPaused(pid));
      ::kill(pid, SIGTERM);
      ::kill(pid, SIGCONT);
    }
    const BatchResult r = run.Wait(pid);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.status == 0) {
      EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = 4"), 1);
      continue;
    }
    EXPECT_EQ(r.report, ReportHeader() + ReportLine(c.code, "Erro Cancelamento !"));
    EXPECT_NE(r.err.find(": Erro de Sistema. Por favor Comunique ao Administrador !\n"),
              std::string::npos)
        << r.err;
    const Rows diff = Diff(before, db.Snapshot());
    ASSERT_EQ(diff.size(), 1u) << testing::PrintToString(diff);
    EXPECT_TRUE(diff[0].starts_with("+ TB_GER_ERRQUBO|" + c.error)) << diff[0];
    db.Exec("DELETE FROM TB_GER_ERRQUBO");
  }
}

// The report is a new regular file of the run, mode 0640, whatever stood at
// its name: a link is never followed, a FIFO never waited on; when it cannot
// be begun (a folder at the name, no room for its header) the run does
// nothing (start-up failure). A committed run's report is where it says or
// the run exits 5, as when its folder was removed before the commit. Once
// the commit is made nothing else turns the run into a failure: a standard
// error nobody reads. Case k cancels commitment k, of status -k.
TEST(BatchRun, TheReportIsANewFileAndAfterTheCommitNothingFails) {
  std::string seed = Seed("basics");
  for (int k = 1; k <= 6; ++k) seed += Mixed(k, 1, -k);
  TestDb db(false, seed);
  const Partida pausa{.env = {{"KZ_PAUSA_TESTE", "commit"}}}, fechado{.erro_fechado = true},
      mantem{.mantem_relatorio = true};
  const auto nada = [](BatchRunner&) {};
  const auto remove = [](BatchRunner& r) { fs::remove_all(r.Dir()); };
  const struct {
    std::function<void(const fs::path&)> plant;
    Partida partida;
    std::function<void(BatchRunner&)> paused;  // done while the run waits to commit
    int status;
  } cases[] = {
      {[](const auto& f) { fs::create_symlink(f.parent_path() / "alvo.txt", f); }, mantem, nada, 0},
      {[](const auto& f) { fs::create_symlink(f.parent_path() / "nada.txt", f); }, mantem, nada, 0},
      {[](const auto& f) { ASSERT_EQ(::mkfifo(f.c_str(), 0666), 0); }, mantem, nada, 0},
      {[](const auto& f) { fs::create_directories(f / "x"); }, mantem, nada, 4},
      {[](const auto&) {}, pausa, remove, 5},
      {[](const auto&) {}, fechado, nada, 0},
  };
  for (int k = 1; k <= 6; ++k) {
    SCOPED_TRACE(k);
    const auto& c = cases[k - 1];
    BatchRunner run(db, "run" + std::to_string(k), "25/12/2017|-" + std::to_string(k) + "|1|2|12");
    const auto report = run.Dir() / "Resultado do Cancelamento.txt";
    std::ofstream(run.Dir() / "alvo.txt") << "segredo";
    c.plant(report);
    const int pid = run.Start(c.partida);
    if (!c.partida.env.empty()) {
      ASSERT_TRUE(run.WaitPaused(pid));
      c.paused(run);
      ::kill(pid, SIGCONT);
    }
    const BatchResult r = run.Wait(pid, std::chrono::seconds(30));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(db.Count("SELECT STAEPN FROM TB_VDA_CADEPN WHERE CODEPN = " + std::to_string(k)),
              c.status == 4 ? -k : 4);
    if (c.status != 0) continue;
    if (k <= 3) {
      EXPECT_EQ(ReadFile((run.Dir() / "alvo.txt").string()), "segredo");
      EXPECT_FALSE(fs::exists(run.Dir() / "nada.txt"));
    }
    EXPECT_EQ(r.report, ReportHeader() + ReportLine(" " + std::to_string(k) + " ", "Cancelado !"));
    struct stat st {};
    ASSERT_EQ(::lstat(report.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | 0640);
  }
  EXPECT_EQ(db.Books(), Rows{});
}

}  // namespace
}  // namespace kz::test

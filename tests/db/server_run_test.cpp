// Runs through a server while an operator, the network or other programs
// hold them up: stop requests, bounded waits, what a waiting run tells, a
// deadlock, a lost commit answer, and commitments that get the run's status
// while it goes on. What a run reports is what happened.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "common/runtime_error.h"
#include "tests/support/fixture.h"
#include "tests/support/relay.h"

namespace kz::test {
namespace {

namespace fs = std::filesystem;

// A runner reaching `db` through `relay`.
BatchRunner ViaRelay(TestDb& db, const Relay& relay, const std::string& folder) {
  BatchRunner run(db, folder);
  run.WriteDefault("TIPO=2;DBNAME=127.0.0.1/" + std::to_string(relay.Porta()) + ":" +
                       (db.Dir() / "base.fdb").string(),
                   "SYSDBA", db.Password());
  return run;
}

// Another program's transaction holding the statistics row of product 13,
// which the second commitment of each status lowers.
void Segura(Connection& other, TestDb& db) {
  other.Open(db.ConnText());
  other.BeginTrans();
  other.Execute("UPDATE TB_VDA_VENPRO SET MES12 = MES12 WHERE PROVEN = 13");
}

// 200 commitments of -7 and 200 of -8. SIGTERM, SIGINT and SIGHUP cancel the
// running statement (also a lock wait, or connecting to a server that never
// answers), record the stop and roll back at once; a server that stops
// answering mid-run cannot cancel, and the stop still ends the run within its
// bound, the attachment closed; KZ_LOCK_TIMEOUT and KZ_CONNECT_TIMEOUT bound
// the waits. Then a run of -7 held past the
// long-statement line says what it waits in, and its heartbeat under systemd
// tells how far it is. Last, a run of -8 and another program's transaction
// each hold a row the other waits for: the server fails one side's statement;
// a run that meets the same holder again gives up (exit 3, saying a rerun is
// safe) rather than wait for ever. Nothing spins; the books stay whole.
TEST(ServerRun, StopsWaitsAndADeadlock) {
  TestDb db(true, Seed("basics") + Mixed(1, 200, -7) + Mixed(301, 200, -8));
  const Rows antes = db.Snapshot();
  const struct {
    const char* name;
    int sinal;  // 0: none, a timeout
    bool segura, mudo, congela;
    const char *var, *valor;  // in the environment
    int status;
    const char *erro, *linha;  // the error row's start, a line on standard error
  } cases[] = {
      {"SIGTERM while running", SIGTERM, false, false, false, "", "", 3, "Processa|18-",
       "por SIGTERM"},
      {"SIGINT in a lock wait", SIGINT, true, false, false, "", "", 3, "Processa|18-",
       "por SIGINT"},
      {"SIGHUP connecting", SIGHUP, false, true, false, "", "", 3, "", "por SIGHUP ao conectar"},
      {"SIGTERM, the server silent", SIGTERM, false, false, true, "", "", 3, "",
       "o servidor nao responde ha 6 s; a conexao sera fechada"},
      // Each commitment as one block: the block waits, and so does the
      // statement that runs again on its own.
      {"lock timeout", 0, true, false, false, "KZ_LOCK_TIMEOUT", "1", 3, "EstatVenda|",
       "tempo de espera por bloqueio esgotado (KZ_LOCK_TIMEOUT=1 s) em UPDATE TB_VDA_VENPRO"},
      {"connect timeout", 0, false, true, false, "KZ_CONNECT_TIMEOUT", "1", 4, "",
       "sem conexao com o banco de dados em 1 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Relay relay(ServerPort());
    if (c.mudo) relay.Muda(Relay::Modo::kMudo);
    Connection other;
    if (c.segura) Segura(other, db);
    BatchRunner run = ViaRelay(db, relay, c.name);
    const int pid = run.Start({.env = {{c.var, c.valor}, {"KZ_ENVIO", c.sinal ? "" : "bloco"}}});
    if (c.sinal) {
      EXPECT_TRUE(PollUntil([&] {
        return c.mudo || (c.segura ? BatchRunning(db, "PROVEN=13") > 0 : BatchInserts(db) > 100);
      }));
      if (c.mudo) std::this_thread::sleep_for(std::chrono::milliseconds(500));
      if (c.congela) relay.Muda(Relay::Modo::kCongela);
      ::kill(pid, c.sinal);
    }
    // Within the stop's bound (10 s) and a margin.
    const BatchResult r = run.Wait(pid, std::chrono::seconds(c.congela ? 12 : 20));
    if (c.segura) other.RollbackTrans();
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.linha), std::string::npos) << r.err;
    EXPECT_EQ(r.report.find("Cancelado !"), std::string::npos);
    const Rows diff = Diff(antes, db.Snapshot());
    EXPECT_EQ(diff.size(), *c.erro ? 1u : 0u) << testing::PrintToString(diff);
    EXPECT_TRUE(diff.empty() || diff[0].starts_with(std::string("+ TB_GER_ERRQUBO|") + c.erro));
    db.Exec("DELETE FROM TB_GER_ERRQUBO");
  }

  Connection other;
  Segura(other, db);
  BatchRunner run(db, "longa");
  int pid = run.Start({.env = {{"KZ_BATIMENTO", "1"}}, .jornal = true});
  EXPECT_TRUE(PollUntil([&] { return BatchRunning(db, "PROVEN=13") > 0; }));
  std::this_thread::sleep_for(std::chrono::seconds(11));
  other.CommitTrans();
  BatchResult r = run.Wait(pid);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* linha :
       {"<4>Cancelamento de Empenhos: UPDATE TB_VDA_VENPRO roda ha 0 min 10 s; espera",
        "<6>Cancelamento de Empenhos: 1 de 200 empenhos cancelados;",
        "<6>Cancelamento de Empenhos: 200 empenhos cancelados em "}) {
    EXPECT_NE(r.err.find(linha), std::string::npos) << r.err;
  }
  // One heartbeat a second while it waited 11 s, never a flood.
  int batidas = 0;
  for (size_t at = r.err.find(" de 200 empenhos cancelados;"); at != std::string::npos;
       at = r.err.find(" de 200 empenhos cancelados;", at + 1)) {
    ++batidas;
  }
  EXPECT_TRUE(batidas >= 8 && batidas <= 14) << batidas;
  // Every entry and statistic in the run's month, December.
  EXPECT_EQ(db.Select("SELECT COUNT(*), (SELECT SUM(MES1 + MES2 + MES3 + MES4 + MES5 + MES6 + "
                      "MES7 + MES8 + MES9 + MES10 + MES11) FROM TB_VDA_VENPRO) FROM "
                      "TB_CTG_CADLAN WHERE MESLAN <> 12"),
            Rows{"0|0"});

  Connection outra;
  Segura(outra, db);
  BatchRunner deadlock(db, "deadlock", "25/12/2017|-8|100|180|12");
  pid = deadlock.Start();
  ASSERT_TRUE(PollUntil([&] { return BatchRunning(db, "PROVEN=13") > 0; }));
  bool other_failed = false;
  std::thread fecha([&] {  // the run holds the card invoice since its first commitment
    try {
      outra.Execute("UPDATE TB_REC_CADFAT SET VALFAT = VALFAT WHERE CLIFAT = 4");
      outra.CommitTrans();
    } catch (const RuntimeError&) {
      other_failed = true;
      outra.RollbackTrans();
    }
  });
  r = deadlock.Wait(pid, std::chrono::seconds(90));
  fecha.join();
  EXPECT_EQ(r.status, other_failed ? 0 : 3) << r.err;
  if (r.status == 3) {
    EXPECT_NE(r.err.find("impasse em UPDATE TB_VDA_VENPRO"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("pode ser executada de novo"), std::string::npos) << r.err;
  }
  EXPECT_EQ(db.Books(), Rows{});
}

// The line to the server breaks once the run is about to commit. The outcome
// reported is what the server did to the run's own transaction, found out
// through a new connection with the same login: one that holds only the
// run's role, with a password holding ";" and "=". Not committed, the run
// records why; committed, its report is where it says. Case k is status -k:
// 1 the commit never arrives; 2 nor does any new connection; 3 the commit
// arrives, its answer is lost; 4 the commit never arrives and the login
// cannot end the old attachment: nothing is concluded before it ends, so the
// outcome stays unknown; 5 the commit never arrives and another run of the
// status, waiting for this one's rows, goes on and commits before the check
// reads: its commitments at 4 are not this run's commit; 6 a run of another status in the same
// folder is refused meanwhile and leaves this run's report alone; 7 the run (as another user)
// cannot be read by processes of that user: not dumpable. A report whose header cannot be written
// is a start-up failure; one that cannot be written in full after the commit gives exit 5.
TEST(ServerRun, WhatARunReportsIsWhatTheCommitDid) {
  std::string seed = Seed("basics");
  for (int k = 1; k <= 8; ++k) seed += Mixed(10 * k, 5, -k);
  TestDb db(true, seed);
  db.GrantRole("KZ_LOTE", "ab;cd=Se");
  using M = Relay::Modo;
  const struct {
    M modo;
    int status;  // 36: 3 or 6
    const char* erro;
  } cases[] = {{M::kCongela, 3, "Processa|"},
               {M::kMudo, 6, ""},
               {M::kPerdeRespostas, 0, ""},
               {M::kCongela, 6, ""},
               {M::kCongela, 36, ""},
               {M::kPassa, 0, ""},
               {M::kPassa, 0, ""}};
  for (int k = 1; k <= 7; ++k) {
    const auto& c = cases[k - 1];
    SCOPED_TRACE(k);
    const std::string marca = "-" + std::to_string(k);
    const Rows antes = db.Snapshot();
    Relay relay(ServerPort());
    BatchRunner run(db, "run" + std::to_string(k), "25/12/2017|" + marca + "|100|180|12");
    run.WriteDefault("TIPO=2;DBNAME=127.0.0.1/" + std::to_string(relay.Porta()) + ":" +
                         (db.Dir() / "base.fdb").string() + ";ROLE=KZ_CANCELA_EMPENHOS",
                     "KZ_LOTE", "ab;cd=Se");
    if (k == 4) db.Exec("REVOKE DELETE ON MON$ATTACHMENTS FROM ROLE KZ_CANCELA_EMPENHOS");
    if (k == 7) {
      for (const auto& f : fs::recursive_directory_iterator(run.Dir())) {
        ASSERT_EQ(::chown(f.path().c_str(), 65534, 65534), 0);
      }
      ASSERT_EQ(::chown(run.Dir().c_str(), 65534, 65534), 0);
    }
    const int pid = run.Start(Partida{{{"KZ_PAUSA_TESTE", k == 5 ? "commit,verificacao" : "commit"},
                                       {"KZ_COMMIT_TIMEOUT", "2"},
                                       {"KZ_CONNECT_TIMEOUT", "2"}},
                                      {},
                                      0,
                                      false,
                                      false,
                                      false,
                                      k == 7 ? 65534u : 0u});
    ASSERT_TRUE(run.WaitPaused(pid));
    // Another run: of the same status in a folder of its own, or of a status
    // without commitments in this run's folder.
    BatchRunner outra(db, k == 6 ? "run6" : "outra",
                      "25/12/2017|" + (k == 6 ? std::string("-99") : marca) + "|1|2|12");
    int pid_outra = 0;
    if (k == 5 || k == 6) {
      // It waits for this run's rows: its commitments, or the cost accounts.
      pid_outra = outra.Start({.mantem_relatorio = true});
      EXPECT_TRUE(PollUntil([&] { return BatchRunning(db, "WITH LOCK") > 0; }));
    }
    if (k == 7) {
      struct stat st {};
      EXPECT_EQ(::stat(("/proc/" + std::to_string(pid) + "/environ").c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, 0u);
    }
    relay.Muda(c.modo);
    ::kill(pid, SIGCONT);
    // The check has ended this run's attachment: the other run goes on and
    // commits before the check reads.
    if (k == 5 && run.WaitPaused(pid)) {
      EXPECT_EQ(outra.Wait(pid_outra).status, 0);
      ::kill(pid, SIGCONT);
    }
    const BatchResult r = run.Wait(pid, std::chrono::seconds(90));
    if (k == 6) {
      EXPECT_EQ(outra.Wait(pid_outra).status, 2);
    }
    if (k == 6) {  // the refused run left this one's report
      EXPECT_EQ(ReadFile((run.Dir() / "Resultado do Cancelamento.txt").string()), r.report);
    }
    if (c.status == 36) {
      EXPECT_TRUE(r.status == 3 || r.status == 6) << r.err;
    } else {
      EXPECT_EQ(r.status, c.status) << r.err;
    }
    EXPECT_EQ(r.report.find("Cancelado !") != std::string::npos, c.status == 0) << r.report;
    if (c.status == 0) {
      EXPECT_EQ(r.report.find(ReportLine(" " + std::to_string(10 * k) + " ", "Cancelado !")),
                ReportHeader().size());
    }
    // The old attachment may linger in the unknown case; a new reader waits
    // for it to go.
    EXPECT_TRUE(PollUntil([&] {
      return db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = 4 AND CODEPN BETWEEN " +
                      std::to_string(10 * k) + " AND " + std::to_string(10 * k + 4)) ==
             (c.status == 0 || c.status == 36 ? 5 : 0);
    }));
    if (c.status == 3 || c.status == 6) {
      const Rows diff = Diff(antes, db.Snapshot());
      EXPECT_EQ(diff.size(), *c.erro ? 1u : 0u) << testing::PrintToString(diff);
      EXPECT_TRUE(diff.empty() || diff[0].starts_with(std::string("+ TB_GER_ERRQUBO|") + c.erro));
      db.Exec("DELETE FROM TB_GER_ERRQUBO");
    }
    if (k == 4) db.Exec("GRANT DELETE ON MON$ATTACHMENTS TO ROLE KZ_CANCELA_EMPENHOS");
  }
  // The header does not fit the file size limit; then it does, the first
  // line does not.
  BatchRunner cheio(db, "cheio", "25/12/2017|-8|1|2|12");
  EXPECT_EQ(cheio.Run({.limite_arquivo = 10}).status, 4);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = -8"), 5);
  EXPECT_EQ(cheio.Run({.limite_arquivo = 40}).status, 5);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = -8"), 0);
  EXPECT_EQ(db.Books(), Rows{});
}

// Another program gives the run's status to commitment 13 while the run goes
// on (in the deferred return-queue mode, whose queue a second closing round
// must empty again, each commitment as one block). Before the closing statements, the newcomer is
// reversed and reported like the others: the books end as those of a run that had it from the
// start. After them, it stays untouched at the status.
TEST(ServerRun, ACommitmentMarkedDuringTheRunIsReversedOrLeftAlone) {
  TestDb twin(false, Seed("basics") + Mixed(1, 13, -7));
  ASSERT_EQ(BatchRunner(twin).Run().status, 0);
  for (const char* pausa : {"fechamento", "commit"}) {
    SCOPED_TRACE(pausa);
    TestDb db(true, Seed("basics") + Mixed(1, 12, -7) + Mixed(13, 1, 2));
    BatchRunner run(db);
    const std::string trace = (run.Dir() / "trace.sql").string();
    const int pid = run.Start(Partida{{{"KZ_PAUSA_TESTE", pausa},
                                       {"KZ_SQL_TRACE", trace},
                                       {"KZ_RETORNO", "lote"},
                                       {"KZ_ENVIO", "bloco"}}});
    ASSERT_TRUE(run.WaitPaused(pid));
    // The statement trace is written as the run goes.
    EXPECT_NE(ReadFile(trace).find("Select * From EpnPag_Cpg Where EpnPag="), std::string::npos);
    db.Exec("UPDATE TB_VDA_CADEPN SET STAEPN = -7 WHERE CODEPN = 13");
    db.Detach();
    ::kill(pid, SIGCONT);
    const BatchResult r = run.Wait(pid);
    EXPECT_EQ(r.status, 0) << r.err;
    const bool antes = std::string(pausa) == "fechamento";
    EXPECT_EQ(r.report.find(ReportLine(" 13 ", "Cancelado !")) != std::string::npos, antes);
    if (antes) {
      EXPECT_EQ(Diff(twin.Snapshot(false), db.Snapshot(false)), Rows{});
    } else {
      EXPECT_EQ(db.Select("SELECT STAEPN, (SELECT COUNT(*) FROM TB_CTG_CADLAN WHERE DOCLAN = '13') "
                          "FROM TB_VDA_CADEPN WHERE CODEPN = 13"),
                Rows{"-7|0"});
    }
    EXPECT_EQ(db.Books(), Rows{});
  }
}

}  // namespace
}  // namespace kz::test

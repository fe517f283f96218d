// Runs through a server while an operator, the network or other programs
// hold them up: stop requests, bounded waits, what a waiting run tells, a
// deadlock, a lost commit answer, and commitments that get the run's status
// while it goes on. What a run reports is what happened.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>

#include "common/runtime_error.h"
#include "tests/support/fixture.h"
#include "tests/support/relay.h"

namespace kz::test {
namespace {

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
// answers), record the stop and roll back at once; KZ_LOCK_TIMEOUT and
// KZ_CONNECT_TIMEOUT bound the waits. Then a run of -7 held past the
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
    bool segura, mudo;
    const char *var, *valor;  // in the environment
    int status;
    const char *erro, *linha;  // the error row's start, a line on standard error
  } cases[] = {
      {"SIGTERM while running", SIGTERM, false, false, "", "", 3, "Processa|18-", "por SIGTERM"},
      {"SIGINT in a lock wait", SIGINT, true, false, "", "", 3, "Processa|18-", "por SIGINT"},
      {"SIGHUP connecting", SIGHUP, false, true, "", "", 3, "", "por SIGHUP ao conectar"},
      {"lock timeout", 0, true, false, "KZ_LOCK_TIMEOUT", "1", 3, "EstatVenda|",
       "tempo de espera por bloqueio esgotado (KZ_LOCK_TIMEOUT=1 s) em UPDATE TB_VDA_VENPRO"},
      {"connect timeout", 0, false, true, "KZ_CONNECT_TIMEOUT", "1", 4, "",
       "sem conexao com o banco de dados em 1 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Relay relay(ServerPort());
    if (c.mudo) relay.Muda(Relay::Modo::kMudo);
    Connection other;
    if (c.segura) Segura(other, db);
    BatchRunner run = ViaRelay(db, relay, c.name);
    const int pid = run.Start({.env = {{c.var, c.valor}}});
    if (c.sinal) {
      EXPECT_TRUE(PollUntil([&] {
        return c.mudo || (c.segura ? BatchRunning(db, "PROVEN=13") > 0 : BatchInserts(db) > 100);
      }));
      if (c.mudo) std::this_thread::sleep_for(std::chrono::milliseconds(500));
      ::kill(pid, c.sinal);
    }
    const BatchResult r = run.Wait(pid, std::chrono::seconds(20));
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
// reported must be what the server did, found out through a new connection.
// A report that cannot be written in full after the commit gives exit 5,
// with the run committed.
TEST(ServerRun, WhatARunReportsIsWhatTheCommitDid) {
  TestDb db(true, Seed("basics") + Mixed(1, 12, -7) + Mixed(101, 3, -9));
  const Rows antes = db.Snapshot();
  const std::pair<Relay::Modo, int> cases[] = {
      {Relay::Modo::kCongela, 3},         // the line freezes before the commit arrives
      {Relay::Modo::kMudo, 6},            // and no new connection is answered
      {Relay::Modo::kPerdeRespostas, 0},  // the commit arrives, its answer is lost
  };
  for (const auto& [modo, status] : cases) {
    SCOPED_TRACE(status);
    Relay relay(ServerPort());
    BatchRunner run = ViaRelay(db, relay, "run" + std::to_string(status));
    const int pid = run.Start(Partida{
        {{"KZ_PAUSA_TESTE", "commit"}, {"KZ_COMMIT_TIMEOUT", "2"}, {"KZ_CONNECT_TIMEOUT", "2"}}});
    ASSERT_TRUE(run.WaitPaused(pid));
    relay.Muda(modo);
    ::kill(pid, SIGCONT);
    const BatchResult r = run.Wait(pid, std::chrono::seconds(90));
    EXPECT_EQ(r.status, status) << r.err;
    EXPECT_EQ(r.report.find("Cancelado !") != std::string::npos, status == 0) << r.report;
    // The old attachment may linger in the unknown case; a new reader waits
    // for it to go.
    EXPECT_TRUE(PollUntil([&] {
      return db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = 4") == (status ? 0 : 12);
    }));
    EXPECT_EQ(status == 0 ? Rows{} : Diff(antes, db.Snapshot()), Rows{});
  }
  // The header fits the file size limit, the first line does not.
  EXPECT_EQ(BatchRunner(db, "cheio", "25/12/2017|-9|1|2|12").Run({.limite_arquivo = 40}).status, 5);
  EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = 4"), 15);
  EXPECT_EQ(db.Books(), Rows{});
}

// Another program gives the run's status to commitment 13 while the run goes
// on (in the deferred return-queue mode, whose queue a second closing round
// must empty again). Before the closing statements, the newcomer is reversed
// and reported like the others: the books end as those of a run that had it
// from the start. After them, it stays untouched at the status.
TEST(ServerRun, ACommitmentMarkedDuringTheRunIsReversedOrLeftAlone) {
  TestDb twin(false, Seed("basics") + Mixed(1, 13, -7));
  ASSERT_EQ(BatchRunner(twin).Run().status, 0);
  for (const char* pausa : {"fechamento", "commit"}) {
    SCOPED_TRACE(pausa);
    TestDb db(true, Seed("basics") + Mixed(1, 12, -7) + Mixed(13, 1, 2));
    BatchRunner run(db);
    const std::string trace = (run.Dir() / "trace.sql").string();
    const int pid = run.Start(
        Partida{{{"KZ_PAUSA_TESTE", pausa}, {"KZ_SQL_TRACE", trace}, {"KZ_RETORNO", "lote"}}});
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

// What a run reports is what happened: around the commit (its answer lost,
// the line frozen), after it (no working folder, no standard error, a report
// that cannot be written), and when commitments get the run's status while it
// goes on.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/batch_runner.h"
#include "tests/support/relay.h"
#include "tests/support/sales_fixture.h"
#include "tests/support/snapshot.h"
#include "tests/support/sql_script.h"

namespace kz {
namespace {

using test::BatchResult;
using test::BatchRunner;
using test::Partida;
using test::Relay;
using test::TestDb;

constexpr const char* kRunLine = "25/12/2017|-7|100|180|12";
constexpr int kEmpenhos = 12;

class CommitOutcomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
    test::SeedBasics(db_);
    test::SeedSales(db_);
    test::SeedMixedCommitments(db_, 1, kEmpenhos, -7);
    antes_ = test::Snapshot(db_);
  }

  int64_t Cancelados() { return db_.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = 4"); }

  TestDb db_{/*server=*/true};
  std::vector<std::string> antes_;
};

// The line to the server breaks once the run is about to commit. The outcome
// reported must be what the server did, found out through a new connection.
TEST_F(CommitOutcomeTest, ALostCommitAnswerIsVerifiedNotGuessed) {
  struct Case {
    const char* name;
    Relay::Modo modo;
    int status;
    bool committed;
  } cases[] = {
      // The last case commits: the others need the books as seeded.
      {"the line freezes before the commit arrives", Relay::Modo::kCongela, 3, false},
      {"the line freezes and no new connection is answered", Relay::Modo::kMudo, 6, false},
      {"the commit arrives, its answer is lost", Relay::Modo::kPerdeRespostas, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Relay relay(test::ServerPort());
    BatchRunner run(db_, std::string("run") + std::to_string(static_cast<int>(c.modo)));
    run.WriteDefault("TIPO=2;DBNAME=" + db_.LocationVia(relay.Porta()), "SYSDBA", db_.Password());
    run.WriteRunLine(kRunLine);
    const int pid = run.Start(Partida::Com(
        {{"KZ_PAUSA_TESTE", "commit"}, {"KZ_COMMIT_TIMEOUT", "2"}, {"KZ_CONNECT_TIMEOUT", "2"}}));
    ASSERT_TRUE(run.WaitPaused(pid));
    relay.Muda(c.modo);
    ::kill(pid, SIGCONT);
    const BatchResult r = run.WaitAtMost(pid, std::chrono::seconds(90));
    EXPECT_EQ(r.status, c.status) << r.err;
    if (c.committed) {
      EXPECT_EQ(Cancelados(), kEmpenhos);
      EXPECT_NE(r.report.find("Cancelado !"), std::string::npos);
      EXPECT_EQ(test::BooksMismatches(db_), std::vector<std::string>{});
      continue;
    }
    EXPECT_EQ(r.report.find("Cancelado !"), std::string::npos) << r.report;
    // The old attachment may linger in the unknown case; a new reader waits
    // for it to go.
    EXPECT_TRUE(test::PollUntil([&] { return Cancelados() == 0; }));
    EXPECT_EQ(test::SnapshotDiff(antes_, test::Snapshot(db_)), std::vector<std::string>{});
  }
}

// Another program gives the run's status to commitment 13 while the run goes
// on. Before the closing statements, the newcomer is reversed and reported
// like the others: the books end as those of a run that had it from the
// start. After them, it stays untouched at the status for the next run.
TEST_F(CommitOutcomeTest, ACommitmentMarkedDuringTheRunIsReversedOrLeftAlone) {
  TestDb twin;
  test::SeedBasics(twin);
  test::SeedSales(twin);
  test::SeedMixedCommitments(twin, 1, kEmpenhos + 1, -7);
  BatchRunner twin_run(twin);
  twin_run.WriteDefaultFor(twin);
  twin_run.WriteRunLine(kRunLine);
  ASSERT_EQ(twin_run.Run().status, 0);
  const auto expected = test::Snapshot(twin, /*entry_numbers=*/false);

  for (const char* pausa : {"fechamento", "commit"}) {
    SCOPED_TRACE(pausa);
    TestDb db(/*server=*/true);
    test::SeedBasics(db);
    test::SeedSales(db);
    test::SeedMixedCommitments(db, 1, kEmpenhos, -7);
    test::SeedMixedCommitments(db, kEmpenhos + 1, 1, 2);
    BatchRunner run(db);
    run.WriteDefaultFor(db);
    run.WriteRunLine(kRunLine);
    const std::string trace = (run.Dir() / "trace.sql").string();
    // In the deferred return-queue mode: the round that takes the newcomer in
    // must empty the queue once more and count its entries too.
    const int pid = run.Start(
        Partida::Com({{"KZ_PAUSA_TESTE", pausa}, {"KZ_SQL_TRACE", trace}, {"KZ_RETORNO", "lote"}}));
    ASSERT_TRUE(run.WaitPaused(pid));
    // The statement trace is written as the run goes.
    EXPECT_NE(test::ReadFile(trace).find("Select * From EpnPag_Cpg Where EpnPag="),
              std::string::npos);
    db.Exec("UPDATE TB_VDA_CADEPN SET STAEPN = -7 WHERE CODEPN = 13");
    db.Detach();
    ::kill(pid, SIGCONT);
    const BatchResult r = run.WaitAtMost(pid, std::chrono::seconds(60));
    EXPECT_EQ(r.status, 0) << r.err;
    const bool antes_do_fechamento = std::string(pausa) == "fechamento";
    EXPECT_EQ(r.report.find(test::ReportLine(" 13 ", "Cancelado !")) != std::string::npos,
              antes_do_fechamento);
    if (antes_do_fechamento) {
      EXPECT_EQ(test::SnapshotDiff(expected, test::Snapshot(db, false)),
                std::vector<std::string>{});
    } else {
      EXPECT_EQ(db.Count("SELECT STAEPN FROM TB_VDA_CADEPN WHERE CODEPN = 13"), -7);
      EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN WHERE DOCLAN = '13'"), 0);
    }
    EXPECT_EQ(test::BooksMismatches(db), std::vector<std::string>{});
  }
}

// Once the commit is made, nothing turns the run into a failure: a working
// folder removed meanwhile, a standard error nobody reads, a report that
// cannot be written in full (exit 5, and the run is said to be committed).
TEST_F(CommitOutcomeTest, AfterTheCommitNothingTurnsTheRunIntoAFailure) {
  test::SeedMixedCommitments(db_, 101, 3, -8);
  test::SeedMixedCommitments(db_, 201, 3, -9);
  struct Case {
    int mark;
    Partida partida;
    bool remove_folder;
    int status;
  } cases[] = {
      {-7, Partida::Com({{"KZ_PAUSA_TESTE", "commit"}}), true, 0},
      {-8,
       [] {
         Partida p;
         p.erro_fechado = true;
         return p;
       }(),
       false, 0},
      {-9,
       [] {
         Partida p;
         p.limite_arquivo = 40;  // the header fits, the first line does not
         return p;
       }(),
       false, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mark);
    BatchRunner run(db_, "run" + std::to_string(-c.mark));
    run.WriteDefaultFor(db_);
    run.WriteRunLine("25/12/2017|" + std::to_string(c.mark) + "|100|180|12");
    const int pid = run.Start(c.partida);
    if (c.remove_folder) {
      ASSERT_TRUE(run.WaitPaused(pid));
      std::filesystem::remove_all(run.Dir());
      ::kill(pid, SIGCONT);
    }
    const BatchResult r = run.WaitAtMost(pid, std::chrono::seconds(60));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(
        db_.Count("SELECT COUNT(*) FROM TB_VDA_CADEPN WHERE STAEPN = " + std::to_string(c.mark)),
        0);
  }
  EXPECT_EQ(test::BooksMismatches(db_), std::vector<std::string>{});
}

}  // namespace
}  // namespace kz

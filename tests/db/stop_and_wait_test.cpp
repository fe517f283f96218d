// An operator's hold on a run through a server: stop requests, bounded waits,
// what a waiting run tells, and a deadlock with another program's transaction.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/runtime_error.h"
#include "data/connection.h"
#include "tests/support/batch_runner.h"
#include "tests/support/relay.h"
#include "tests/support/sales_fixture.h"
#include "tests/support/snapshot.h"

namespace kz {
namespace {

using test::BatchResult;
using test::BatchRunner;
using test::Partida;
using test::Relay;
using test::TestDb;
using Clock = std::chrono::steady_clock;

constexpr const char* kRunLine = "25/12/2017|-7|100|180|12";
// Held by another transaction: the statistics row the second commitment
// lowers.
constexpr const char* kSegura = "UPDATE TB_VDA_VENPRO SET MES12 = MES12 WHERE PROVEN = 13";

class StopAndWaitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
    test::SeedBasics(db_);
    test::SeedSales(db_);
    test::SeedMixedCommitments(db_, 1, 200, -7);
    antes_ = test::Snapshot(db_);
  }

  // Another program's transaction holding kSegura, left open.
  void Segura(Connection& other) {
    other.Open(db_.ConnText());
    other.BeginTrans();
    other.Execute(kSegura);
  }

  // The run's changes are gone; only `erros` error rows may stay.
  void ExpectNothingLeft(size_t erros) {
    const auto diff = test::SnapshotDiff(antes_, test::Snapshot(db_));
    ASSERT_EQ(diff.size(), erros) << testing::PrintToString(diff);
    for (const std::string& d : diff) EXPECT_EQ(d.rfind("+ TB_GER_ERRQUBO|", 0), 0u) << d;
  }

  TestDb db_{/*server=*/true};
  std::vector<std::string> antes_;
};

// SIGTERM, SIGINT and SIGHUP cancel the running statement (also a lock wait
// or connecting to a server that never answers), record the stop and roll
// back at once.
TEST_F(StopAndWaitTest, AStopRequestRollsTheRunBackAtOnce) {
  struct Case {
    const char* name;
    int sinal;
    bool segura, mudo;
  } cases[] = {
      {"SIGTERM while running", SIGTERM, false, false},
      {"SIGINT while waiting for a lock", SIGINT, true, false},
      {"SIGHUP while connecting to a silent server", SIGHUP, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Relay relay(test::ServerPort());
    if (c.mudo) relay.Muda(Relay::Modo::kMudo);
    Connection other;
    if (c.segura) Segura(other);
    BatchRunner run(db_, std::string("run") + std::to_string(c.sinal));
    run.WriteDefault("TIPO=2;DBNAME=" + db_.LocationVia(relay.Porta()), "SYSDBA", db_.Password());
    run.WriteRunLine(kRunLine);
    const int pid = run.Start();
    EXPECT_TRUE(test::PollUntil([&] {
      if (c.mudo) return true;
      return c.segura ? test::BatchStatementsRunning(db_, "PROVEN=13") > 0
                      : test::BatchRecordInserts(db_) > 100;
    }));
    if (c.mudo) std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto inicio = Clock::now();
    ::kill(pid, c.sinal);
    const BatchResult r = run.WaitAtMost(pid, std::chrono::seconds(20));
    std::printf("[ %s: exit %d after %.2f s ]\n", c.name, r.status,
                std::chrono::duration<double>(Clock::now() - inicio).count());
    if (c.segura) other.RollbackTrans();
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_FALSE(r.hung);
    EXPECT_EQ(r.report.find("Cancelado !"), std::string::npos);
    ExpectNothingLeft(c.mudo ? 0 : 1);
    if (!c.mudo) {
      EXPECT_EQ(db_.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO WHERE DESCRICAO_DO_ERRO STARTING "
                          "WITH '18-Execucao interrompida'"),
                1);
      db_.Exec("DELETE FROM TB_GER_ERRQUBO");
    }
  }
}

// KZ_LOCK_TIMEOUT and KZ_CONNECT_TIMEOUT bound the waits; a run that waits
// says in what, and a heartbeat tells how far it is (with journal
// priorities under systemd).
TEST_F(StopAndWaitTest, WaitsAreBoundedAndVisible) {
  struct Case {
    const char* name;
    Partida partida;
    bool segura, mudo;
    int status;
    std::vector<const char*> linhas;
  } cases[] = {
      {"lock timeout",
       Partida::Com({{"KZ_LOCK_TIMEOUT", "1"}}),
       true,
       false,
       3,
       {"tempo de espera por bloqueio esgotado (KZ_LOCK_TIMEOUT=1 s) em UPDATE TB_VDA_VENPRO"}},
      {"connect timeout",
       Partida::Com({{"KZ_CONNECT_TIMEOUT", "1"}}),
       false,
       true,
       4,
       {"sem conexao com o banco de dados em 1 s"}},
      {"a long wait under systemd",
       [] {
         Partida p = Partida::Com({{"KZ_BATIMENTO", "1"}});
         p.jornal = true;
         return p;
       }(),
       true,
       false,
       0,
       {"<4>Cancelamento de Empenhos: UPDATE TB_VDA_VENPRO roda ha 0 min 10 s; espera",
        "<6>Cancelamento de Empenhos: 1 de 200 empenhos cancelados;",
        "<6>Cancelamento de Empenhos: 200 empenhos cancelados em "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Relay relay(test::ServerPort());
    if (c.mudo) relay.Muda(Relay::Modo::kMudo);
    Connection other;
    if (c.segura) Segura(other);
    BatchRunner run(db_, std::string("run") + std::to_string(c.status));
    run.WriteDefault("TIPO=2;DBNAME=" + db_.LocationVia(relay.Porta()), "SYSDBA", db_.Password());
    run.WriteRunLine(kRunLine);
    const int pid = run.Start(c.partida);
    if (c.status == 0) {
      // Held past the long-statement line, then let go.
      EXPECT_TRUE(
          test::PollUntil([&] { return test::BatchStatementsRunning(db_, "PROVEN=13") > 0; }));
      std::this_thread::sleep_for(std::chrono::seconds(11));
      other.CommitTrans();
    }
    const BatchResult r = run.WaitAtMost(pid, std::chrono::seconds(60));
    if (c.segura && other.InTransaction()) other.RollbackTrans();
    EXPECT_EQ(r.status, c.status) << r.err;
    for (const char* linha : c.linhas) EXPECT_NE(r.err.find(linha), std::string::npos) << r.err;
    if (c.status != 0) ExpectNothingLeft(c.status == 3 ? 1 : 0);
    db_.Exec("DELETE FROM TB_GER_ERRQUBO");
  }
  EXPECT_EQ(test::BooksMismatches(db_), std::vector<std::string>{});
}

// The run and another program's transaction each hold a row the other waits
// for. The server breaks the deadlock by failing one side's statement; a run
// that meets the same holder again gives up (exit 3, saying a rerun is safe)
// rather than wait for ever, and the other side goes on. Either way nothing
// spins and the books stay whole.
TEST_F(StopAndWaitTest, ADeadlockWithAnotherTransactionNeverSpins) {
  Connection other;
  Segura(other);
  BatchRunner run(db_);
  run.WriteDefaultFor(db_);
  run.WriteRunLine(kRunLine);
  const int pid = run.Start();
  ASSERT_TRUE(test::PollUntil([&] { return test::BatchStatementsRunning(db_, "PROVEN=13") > 0; }));
  // The run holds the card invoice since its first commitment.
  bool other_failed = false;
  std::thread fecha([&] {
    try {
      other.Execute("UPDATE TB_REC_CADFAT SET VALFAT = VALFAT WHERE CLIFAT = 4");
      other.CommitTrans();
    } catch (const RuntimeError&) {
      other_failed = true;
      other.RollbackTrans();
    }
  });
  const BatchResult r = run.WaitAtMost(pid, std::chrono::seconds(90));
  fecha.join();
  EXPECT_FALSE(r.hung);
  EXPECT_EQ(r.status, other_failed ? 0 : 3) << r.err;
  if (r.status == 3) {
    EXPECT_NE(r.err.find("impasse em UPDATE TB_VDA_VENPRO"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("pode ser executada de novo"), std::string::npos) << r.err;
  }
  EXPECT_EQ(test::BooksMismatches(db_), std::vector<std::string>{});
}

}  // namespace
}  // namespace kz

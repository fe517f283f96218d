// A long run through the server, killed (SIGKILL) or cut off by the server at
// chosen points of its work: nothing of it may stay, and a rerun must end as
// an undisturbed run on a twin database.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <vector>

#include "data/connection.h"
#include "tests/support/batch_runner.h"
#include "tests/support/sales_fixture.h"
#include "tests/support/snapshot.h"

namespace kz {
namespace {

using test::BatchResult;
using test::BatchRunner;
using test::TestDb;

constexpr const char* kRunLine = "25/12/2017|-7|100|180|12";

// 400 mixed commitments; commitment 202, halfway, also sold product 99, whose
// statistics row no other commitment touches.
void SeedLongRun(TestDb& db) {
  test::SeedBasics(db);
  test::SeedSales(db);
  test::SeedMixedCommitments(db, 1, 400, -7);
  db.Exec("INSERT INTO TB_VDA_CADEPNIT VALUES (202, 3, 99, 1, 1.00)");
  db.Exec("INSERT INTO TB_VDA_VENPRO (PROVEN, ANOVEN, MES12) VALUES (99, 2017, 10)");
}

TEST(Crash, AKilledOrCutRunLeavesNothingAndARerunMatchesAnUndisturbedRun) {
  if (!test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
  TestDb twin(/*server=*/true);
  SeedLongRun(twin);
  BatchRunner twin_run(twin);
  twin_run.WriteDefaultFor(twin);
  twin_run.WriteRunLine(kRunLine);
  const BatchResult undisturbed = twin_run.Run();
  ASSERT_EQ(undisturbed.status, 0) << undisturbed.err;
  const auto expected = test::Snapshot(twin);
  // Fewer than the rows the run inserts: its entries, their return rows and
  // its activity rows.
  const int64_t inserts = 2 * twin.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN") +
                          twin.Count("SELECT COUNT(*) FROM TB_GER_LOGSYS");

  TestDb db(/*server=*/true);
  SeedLongRun(db);
  const auto before = test::Snapshot(db);
  BatchRunner run(db);
  run.WriteDefaultFor(db);
  run.WriteRunLine(kRunLine);

  // Where the run is stopped: while it waits for a row another transaction
  // holds (`hold`, `waits_in`), or once it has inserted `share` of its rows.
  struct Point {
    const char* name;
    bool kill;  // SIGKILL; otherwise the server cuts the attachment
    const char* hold;
    const char* waits_in;
    double share;
  } points[] = {
      {"killed waiting on a statistics row halfway", true,
       "UPDATE TB_VDA_VENPRO SET MES12 = MES12 WHERE PROVEN = 99", "PROVEN=99 AND", 0},
      {"killed in the stock procedure after the last commitment", true,
       "UPDATE TB_EST_SALDO SET QTDEST = QTDEST WHERE PROEST = 11", "CANCELA_SAIDA_ESTOQUE", 0},
      {"killed running, a tenth of the way", true, nullptr, nullptr, 0.1},
      {"killed running, two thirds of the way", true, nullptr, nullptr, 0.66},
      {"cut waiting on a statistics row halfway", false,
       "UPDATE TB_VDA_VENPRO SET MES12 = MES12 WHERE PROVEN = 99", "PROVEN=99 AND", 0},
      {"cut running, a third of the way", false, nullptr, nullptr, 0.33},
  };
  for (const Point& p : points) {
    SCOPED_TRACE(p.name);
    Connection other;
    if (p.hold) {
      other.Open(db.ConnText());
      other.BeginTrans();
      other.Execute(p.hold);
    }
    const int pid = run.Start();
    EXPECT_TRUE(test::PollUntil([&] {
      return p.hold ? test::BatchStatementsRunning(db, p.waits_in) > 0
                    : test::BatchRecordInserts(db) >= static_cast<int64_t>(p.share * inserts);
    })) << "the run never got there";
    if (p.kill) {
      ::kill(pid, SIGKILL);
    } else {
      test::CutBatchAttachments(db);
    }
    const BatchResult r = run.WaitAtMost(pid, std::chrono::seconds(60));
    if (p.hold) other.RollbackTrans();
    if (p.kill) {
      EXPECT_EQ(r.status, 128 + SIGKILL);
      // Lines are written once the commit has succeeded.
      EXPECT_EQ(r.report, test::ReportHeader()) << r.err;
    } else {
      EXPECT_TRUE(r.status == 3 || r.status == 4) << r.status << " " << r.err;
      EXPECT_EQ(r.err.rfind("Cancelamento de Empenhos: ", 0), 0u) << r.err;
      EXPECT_EQ(r.report.find("Cancelado !"), std::string::npos);
    }
    EXPECT_EQ(test::SnapshotDiff(before, test::Snapshot(db)), std::vector<std::string>{});
  }

  const BatchResult rerun = run.WaitAtMost(run.Start(), std::chrono::seconds(120));
  EXPECT_EQ(rerun.status, 0) << rerun.err;
  EXPECT_EQ(rerun.report, undisturbed.report);
  EXPECT_EQ(test::SnapshotDiff(expected, test::Snapshot(db)), std::vector<std::string>{});
  EXPECT_EQ(test::BooksMismatches(db), std::vector<std::string>{});
}

}  // namespace
}  // namespace kz

// The batch against a server while other attachments work on the same rows:
// a run waits for rows another transaction holds and applies each change
// once; two runs of different marks both commit; two runs of the same mark
// cancel the set once.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <utility>
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
using Statements = std::vector<std::string>;

// A run of these sizes takes a second or two; a wait past this is a hang.
constexpr auto kGuard = std::chrono::seconds(60);

std::string RunLine(int mark) { return "25/12/2017|" + std::to_string(mark) + "|100|180|12"; }

// What a failed expectation on a run's status shows.
std::string Why(const BatchResult& r) {
  return r.hung ? "still running when the guard ran out" : r.err;
}

class ConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
  }

  // `count` mixed commitments of mark -7, numbered from 1.
  static void Seed(TestDb& db, int count) {
    test::SeedBasics(db);
    test::SeedSales(db);
    test::SeedMixedCommitments(db, 1, count, -7);
  }

  static BatchResult Run(TestDb& db, int mark) {
    BatchRunner run(db);
    run.WriteDefaultFor(db);
    run.WriteRunLine(RunLine(mark));
    return run.Run();
  }

  // Another program's transaction on the database, left open.
  static void Hold(Connection& other, TestDb& db, const Statements& statements) {
    other.Open(db.ConnText());
    other.BeginTrans();
    for (const std::string& s : statements) other.Execute(s);
  }

  // What every run must leave, whatever ran beside it.
  static void ExpectBooksExact(TestDb& db) {
    EXPECT_EQ(test::BooksMismatches(db), std::vector<std::string>{});
    EXPECT_EQ(db.Count("SELECT COUNT(DISTINCT NUMLAN) FROM TB_CTG_CADLAN"),
              db.Count("SELECT COUNT(*) FROM TB_CTG_CADLAN"));
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM RETORNOLANCA"), 0);
    EXPECT_EQ(db.Count("SELECT COUNT(*) FROM TB_GER_ERRQUBO"), 0);
  }
};

// The other transaction holds a row the run must change and commits once the
// run waits for it. The run must end as an undisturbed run on a twin database
// to which the same change was made: the other's change and each of the
// run's changes applied exactly once.
TEST_F(ConcurrencyTest, ARunWaitsForHeldRowsAndAppliesEachChangeOnce) {
  struct Case {
    const char* name;
    Statements hold;
    const char* waits_in;  // text of the run's statement that must wait
  } cases[] = {
      {"balance rows and another poster's entry",
       {"UPDATE TB_CTG_CADPLA SET SLDD12 = SLDD12 + 5 WHERE CODEMP = 1 AND CODCON IN ('1', "
        "'1.1', '1.1.01')",
        "UPDATE TB_CTG_CADPLA SET SLDC12 = SLDC12 + 5 WHERE CODEMP = 1 AND CODCON IN ('3', "
        "'3.1', '3.1.02')",
        "INSERT INTO TB_CTG_CADLAN (CODEMP, NUMLAN, CTADEB, CTACRE, DATLAN, MESLAN, VALLAN, "
        "DOCLAN, INTLAN) VALUES (1, 50, '1.1.01', '3.1.02', '12/20/2017', 12, 5, 'OUTRO', 50)"},
       "TB_CTG_CADPLA"},
      {"card invoice",
       {"UPDATE TB_REC_CADFAT SET VALFAT = VALFAT + 10 WHERE CLIFAT = 4 AND CODFAT = '12-2017'"},
       "UPDATE TB_REC_CADFAT"},
      {"statistics row",
       {"UPDATE TB_VDA_VENPRO SET MES12 = MES12 + 1 WHERE PROVEN = 13 AND ANOVEN = 2017"},
       "PROVEN=13 AND"},
      {"commitment row", {"UPDATE TB_VDA_CADEPN SET VALEPN = 123 WHERE CODEPN = 2"}, "WITH LOCK"},
      {"stock balance",
       {"UPDATE TB_EST_SALDO SET QTDEST = QTDEST + 1 WHERE PROEST = 11"},
       "CANCELA_SAIDA_ESTOQUE"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestDb twin(/*server=*/true);
    Seed(twin, 12);
    for (const std::string& s : c.hold) twin.Exec(s);
    ASSERT_EQ(Run(twin, -7).status, 0);
    const auto expected = test::Snapshot(twin);

    TestDb db(/*server=*/true);
    Seed(db, 12);
    Connection other;
    Hold(other, db, c.hold);
    BatchRunner run(db);
    run.WriteDefaultFor(db);
    run.WriteRunLine(RunLine(-7));
    const int pid = run.Start();
    EXPECT_TRUE(test::PollUntil([&] { return test::BatchStatementsRunning(db, c.waits_in) > 0; }))
        << "the run never waited in " << c.waits_in;
    other.CommitTrans();
    const BatchResult r = run.WaitAtMost(pid, kGuard);
    EXPECT_EQ(r.status, 0) << Why(r);
    EXPECT_EQ(test::SnapshotDiff(expected, test::Snapshot(db)), std::vector<std::string>{});
    ExpectBooksExact(db);
  }
}

// The runs' commitments share accounts, products and the card invoice. The
// first run is held up by another transaction on the card invoice once its
// first entries are posted; the second starts then, and its first commitment
// updates statistics rows the first run needs later. Both must commit.
TEST_F(ConcurrencyTest, TwoRunsOfDifferentMarksBothCommit) {
  TestDb twin(/*server=*/true);
  Seed(twin, 40);
  test::SeedMixedCommitments(twin, 102, 40, -8);
  ASSERT_EQ(Run(twin, -7).status, 0);
  ASSERT_EQ(Run(twin, -8).status, 0);

  TestDb db(/*server=*/true);
  Seed(db, 40);
  test::SeedMixedCommitments(db, 102, 40, -8);
  Connection other;
  Hold(other, db, {"UPDATE TB_REC_CADFAT SET VALFAT = VALFAT WHERE CLIFAT = 4"});
  BatchRunner a(db, "a"), b(db, "b");
  for (auto [runner, mark] : {std::pair{&a, -7}, std::pair{&b, -8}}) {
    runner->WriteDefaultFor(db);
    runner->WriteRunLine(RunLine(mark));
  }
  const int pid_a = a.Start();
  EXPECT_TRUE(test::PollUntil(
      [&] { return test::BatchStatementsRunning(db, "UPDATE TB_REC_CADFAT") > 0; }));
  const int pid_b = b.Start();
  EXPECT_TRUE(test::PollUntil([&] { return test::BatchStatementsRunning(db) == 2; }));
  other.CommitTrans();
  const BatchResult ra = a.WaitAtMost(pid_a, kGuard);
  const BatchResult rb = b.WaitAtMost(pid_b, kGuard);
  EXPECT_EQ(ra.status, 0) << Why(ra);
  EXPECT_EQ(rb.status, 0) << Why(rb);
  EXPECT_EQ(test::SnapshotDiff(test::Snapshot(twin, /*entry_numbers=*/false),
                               test::Snapshot(db, /*entry_numbers=*/false)),
            std::vector<std::string>{});
  ExpectBooksExact(db);
}

// An overlapping schedule: two runs of the same mark, let go at the same
// moment. One cancels the set; the other waits for it, then finds nothing of
// the mark and is refused, posting nothing.
TEST_F(ConcurrencyTest, TwoRunsOfTheSameMarkCancelOnce) {
  TestDb twin(/*server=*/true);
  Seed(twin, 20);
  ASSERT_EQ(Run(twin, -7).status, 0);

  TestDb db(/*server=*/true);
  Seed(db, 20);
  Connection other;
  Hold(other, db, {"UPDATE TB_VDA_CADEPN SET VALEPN = VALEPN WHERE CODEPN = 1"});
  BatchRunner a(db, "a"), b(db, "b");
  for (BatchRunner* runner : {&a, &b}) {
    runner->WriteDefaultFor(db);
    runner->WriteRunLine(RunLine(-7));
  }
  const int pid_a = a.Start();
  const int pid_b = b.Start();
  EXPECT_TRUE(test::PollUntil([&] { return test::BatchStatementsRunning(db, "WITH LOCK") == 2; }));
  other.CommitTrans();
  BatchResult ra = a.WaitAtMost(pid_a, kGuard);
  BatchResult rb = b.WaitAtMost(pid_b, kGuard);
  if (ra.status != 0) std::swap(ra, rb);
  EXPECT_EQ(ra.status, 0) << Why(ra);
  EXPECT_EQ(rb.status, 2) << Why(rb);
  EXPECT_TRUE(rb.err.ends_with("Cancelamento de Empenhos: Parametros de Liberação Invalidos !\n"))
      << rb.err;
  EXPECT_EQ(rb.report, test::ReportHeader());
  EXPECT_EQ(test::SnapshotDiff(test::Snapshot(twin), test::Snapshot(db)),
            std::vector<std::string>{});
  ExpectBooksExact(db);
}

}  // namespace
}  // namespace kz

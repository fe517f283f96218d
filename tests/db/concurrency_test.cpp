// The batch against a server while other attachments work on the same rows,
// or killed: a run waits for rows other transactions hold and applies each
// change once; two runs of different marks both commit; two runs of the same
// mark cancel the set once; a killed run leaves nothing. Each ends as
// undisturbed runs on a twin database.
#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fixture.h"

namespace kz::test {
namespace {

std::string Line(int mark) { return "25/12/2017|" + std::to_string(mark) + "|100|180|12"; }

// What every run must leave, whatever ran beside it.
void ExpectBooksExact(TestDb& db) {
  EXPECT_EQ(db.Books(), Rows{});
  EXPECT_EQ(db.Select("SELECT COUNT(*) - COUNT(DISTINCT NUMLAN), (SELECT COUNT(*) FROM "
                      "RETORNOLANCA), (SELECT COUNT(*) FROM TB_GER_ERRQUBO) FROM TB_CTG_CADLAN"),
            Rows{"0|0|0"});
}

// A long run, killed (SIGKILL) or cut off by the server at chosen points of
// its work, leaves nothing: killed in the stock procedure after the last
// commitment (another transaction holds a stock balance), or halfway; cut by
// the server halfway. Then the run goes through while other transactions hold
// rows it must change, each one committing once the run waits for it, in the
// order the run meets them: a commitment row (the first lock), the balance
// rows (the cost accounts' lock) beside another poster's entry, the card
// invoice and its first instalment, a statistics row, a stock balance (the
// closing). It ends as the run of a twin that had the same changes made first.
TEST(Concurrency, KilledRunsLeaveNothingAndARunAppliesHeldChangesOnce) {
  const std::pair<const char*, std::vector<std::string>> holds[] = {
      {"TB_VDA_CADEPN WHERE", {"UPDATE TB_VDA_CADEPN SET VALEPN = 123 WHERE CODEPN = 2"}},
      {"TB_CTG_CADPLA",
       {"UPDATE TB_CTG_CADPLA SET SLDD12 = SLDD12 + 5 WHERE CODEMP = 1 AND CODCON IN ('1', '1.1', "
        "'1.1.01')",
        "UPDATE TB_CTG_CADPLA SET SLDC12 = SLDC12 + 5 WHERE CODEMP = 1 AND CODCON IN ('3', '3.1', "
        "'3.1.02')",
        "INSERT INTO TB_CTG_CADLAN (CODEMP, NUMLAN, CTADEB, CTACRE, DATLAN, MESLAN, VALLAN, "
        "DOCLAN, "
        "INTLAN) VALUES (1, 50, '1.1.01', '3.1.02', '12/20/2017', 12, 5, 'OUTRO', 50)"}},
      {"UPDATE TB_REC_CADFAT",
       {"UPDATE TB_REC_CADFAT SET VALFAT = VALFAT + 10 WHERE CLIFAT = 4 AND CODFAT = '12-2017'"}},
      {"UPDATE TB_REC_CADDUP",  // then only the instalment's update runs again
       {"UPDATE TB_REC_CADDUP SET VALDUP = VALDUP + 1 WHERE CLIDUP = 4 AND NUMPAR = 1"}},
      {"UPDATE TB_VDA_VENPRO",
       {"UPDATE TB_VDA_VENPRO SET MES12 = MES12 + 1 WHERE PROVEN = 13 AND ANOVEN = 2017"}},
      {"CANCELA_SAIDA_ESTOQUE", {"UPDATE TB_EST_SALDO SET QTDEST = QTDEST + 1 WHERE PROEST = 11"}},
  };
  const std::string seed = Seed("basics") + Mixed(1, 400, -7);
  TestDb twin(true, seed);
  for (const auto& [waits_in, hold] : holds) {
    for (const std::string& s : hold) twin.Exec(s);
  }
  const BatchResult undisturbed = BatchRunner(twin).Run();
  ASSERT_EQ(undisturbed.status, 0) << undisturbed.err;
  // Fewer than the rows the run inserts: its entries, their return rows and
  // its activity rows.
  const int64_t inserts =
      twin.Count("SELECT 2 * COUNT(*) + (SELECT COUNT(*) FROM TB_GER_LOGSYS) FROM TB_CTG_CADLAN");

  TestDb db(true, seed);
  const Rows before = db.Snapshot();
  BatchRunner run(db);
  for (const auto& [kill, estoque] : {std::pair{true, true}, {true, false}, {false, false}}) {
    SCOPED_TRACE(std::string(kill ? "killed " : "cut ") + (estoque ? "in the closing" : "halfway"));
    Connection other;
    if (estoque) {
      other.Open(db.ConnText());
      other.BeginTrans();
      other.Execute("UPDATE TB_EST_SALDO SET QTDEST = QTDEST WHERE PROEST = 11");
    }
    const int pid = run.Start();
    EXPECT_TRUE(PollUntil([&, estoque = estoque] {
      return estoque ? BatchRunning(db, "CANCELA_SAIDA_ESTOQUE") > 0
                     : BatchInserts(db) >= inserts / 2;
    })) << "the run never got there";
    kill ? (void)::kill(pid, SIGKILL) : CutBatch(db);
    const BatchResult r = run.Wait(pid);
    if (other.InTransaction()) other.RollbackTrans();
    EXPECT_EQ(kill ? r.status == 128 + SIGKILL : r.status == 3 || r.status == 4, true) << r.err;
    EXPECT_EQ(r.report.find("Cancelado !"), std::string::npos);  // lines come after the commit
    EXPECT_EQ(Diff(before, db.Snapshot()), Rows{});
  }

  // Statement by statement, and each commitment as one block (a block that
  // meets a held row waits, fails when its holder commits, and the
  // commitment goes statement by statement).
  for (const char* envio : {"", "bloco"}) {
    SCOPED_TRACE(envio);
    TestDb held(true, seed);
    BatchRunner run(held);
    std::vector<std::unique_ptr<Connection>> others;
    for (const auto& [waits_in, hold] : holds) {
      others.push_back(std::make_unique<Connection>());
      others.back()->Open(held.ConnText());
      others.back()->BeginTrans();
      for (const std::string& s : hold) others.back()->Execute(s);
    }
    const int pid = run.Start({.env = {{"KZ_ENVIO", envio}}});
    for (size_t i = 0; i < others.size(); ++i) {
      EXPECT_TRUE(PollUntil([&] { return BatchRunning(held, holds[i].first) > 0; }))
          << "the run never waited in " << holds[i].first;
      others[i]->CommitTrans();
    }
    const BatchResult r = run.Wait(pid);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.report, undisturbed.report);
    EXPECT_EQ(Diff(twin.Snapshot(), held.Snapshot()), Rows{});
    ExpectBooksExact(held);
  }
}

// Two runs at once. Of different marks, whose commitments share accounts,
// products and the card invoice: the first is held up by another transaction
// on the card invoice once its first entries are posted; the second starts
// then and takes statistics rows the first needs later. Both commit. Of the
// same mark, let go at the same moment (an overlapping schedule): one
// cancels the set; the other waits for it, finds nothing and is refused.
TEST(Concurrency, TwoRunsAtOnceBothEndAsIfOneRanAfterTheOther) {
  const std::string seed = Seed("basics") + Mixed(1, 40, -7) + Mixed(102, 40, -8);
  TestDb twin(true, seed);
  ASSERT_EQ(BatchRunner(twin, "a", Line(-7)).Run().status, 0);
  const Rows so_7 = twin.Snapshot();
  ASSERT_EQ(BatchRunner(twin, "b", Line(-8)).Run().status, 0);

  for (const int second : {-8, -7}) {
    SCOPED_TRACE(second);
    TestDb db(true, seed);
    Connection other;
    other.Open(db.ConnText());
    other.BeginTrans();
    other.Execute(second == -8 ? "UPDATE TB_REC_CADFAT SET VALFAT = VALFAT WHERE CLIFAT = 4"
                               : "UPDATE TB_VDA_CADEPN SET VALEPN = VALEPN WHERE CODEPN = 1");
    BatchRunner a(db, "a", Line(-7)), b(db, "b", Line(second));
    const int pid_a = a.Start();
    if (second == -8) {
      EXPECT_TRUE(PollUntil([&] { return BatchRunning(db, "TB_REC_CADFAT") > 0; }));
    }
    const int pid_b = b.Start();
    EXPECT_TRUE(PollUntil([&] { return BatchRunning(db, second == -8 ? "" : "WITH LOCK") == 2; }));
    other.CommitTrans();
    BatchResult ra = a.Wait(pid_a), rb = b.Wait(pid_b);
    if (ra.status != 0) std::swap(ra, rb);
    EXPECT_EQ(ra.status, 0) << ra.err;
    if (second == -8) {
      EXPECT_EQ(rb.status, 0) << rb.err;
      EXPECT_EQ(Diff(twin.Snapshot(false), db.Snapshot(false)), Rows{});
    } else {
      EXPECT_EQ(rb.status, 2) << rb.err;
      EXPECT_TRUE(rb.err.ends_with(": Parametros de Liberação Invalidos !\n")) << rb.err;
      EXPECT_EQ(rb.report, ReportHeader());
      EXPECT_EQ(Diff(so_7, db.Snapshot()), Rows{});
    }
    ExpectBooksExact(db);
  }
}

}  // namespace
}  // namespace kz::test

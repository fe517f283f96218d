// KZ_RETORNO=lote against the per-entry return queue: the same seeded
// database, run once in each mode, ends in the same state, with the same
// report, messages and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <regex>

#include "tests/support/batch_runner.h"
#include "tests/support/sales_fixture.h"
#include "tests/support/snapshot.h"
#include "tests/support/sql_script.h"

namespace kz {
namespace {

using test::TestDb;
using Linhas = std::vector<std::string>;
using Semente = std::function<void(TestDb&)>;

constexpr const char* kSemLinha = "TB_GER_ERRQUBO|LanCtg|3021-";
constexpr const char* kLookup = "Select Lancamento From RetornoLanca";
constexpr const char* kDelete = "Delete From RetornoLanca Where Marca=-7\n";
constexpr const char* kDesativado = "KZ_RETORNO=lote desativado";

struct Execucao {
  test::BatchResult r;
  Linhas estado;
  Linhas sql_sem_linha;  // the statement of each missing-row error, taken out of `estado`
  std::string trace;     // every statement the batch sent
};

Execucao Roda(bool server, const Semente& semeia, const char* modo) {
  TestDb db(server);
  semeia(db);
  test::BatchRunner run(db);
  run.WriteDefaultFor(db);
  run.WriteRunLine("25/12/2017|-7|100|180|12");
  const std::string trace = (run.Dir() / "sql.trace").string();
  modo ? ::setenv("KZ_RETORNO", modo, 1) : ::unsetenv("KZ_RETORNO");
  ::setenv("KZ_SQL_TRACE", trace.c_str(), 1);
  Execucao e;
  e.r = run.Run();
  ::unsetenv("KZ_RETORNO");
  ::unsetenv("KZ_SQL_TRACE");
  e.trace = test::ReadFile(trace);
  EXPECT_EQ(test::BooksMismatches(db), Linhas{});
  // A missing row's error names the statement the mode was at: the entry's
  // activity-log insert, or the one delete of the deferred mode.
  for (std::string& l : test::Snapshot(db)) {
    if (l.starts_with(kSemLinha)) {
      e.sql_sem_linha.push_back(l.substr(l.rfind('|') + 1) + "\n");
      l.resize(l.rfind('|'));
    }
    e.estado.push_back(l);
  }
  std::sort(e.estado.begin(), e.estado.end());
  return e;
}

// Standard error without the run's time, attachment and transaction
// numbers, and the fallback line.
std::string Mensagens(const std::string& err) {
  return std::regex_replace(
      err, std::regex(" em [0-9.]+ s;.*|Cancelamento de Empenhos: (KZ_RET|conexao ).*\n"), "");
}

int64_t Vezes(const std::string& texto, const std::string& trecho) {
  int64_t n = 0;
  for (size_t at = texto.find(trecho); at != std::string::npos; at = texto.find(trecho, at + 1))
    ++n;
  return n;
}

struct Caso {
  const char* nome;
  Semente semeia;
  int status;    // of both runs
  size_t erros;  // missing-row errors of both runs
  bool recua;    // the deferred run keeps the per-entry mode
};

void Compara(const Caso& c, bool server) {
  SCOPED_TRACE(c.nome);
  const Execucao um = Roda(server, c.semeia, nullptr);
  const Execucao lote = Roda(server, c.semeia, "lote");
  EXPECT_EQ(um.r.status, c.status) << um.r.err;
  EXPECT_EQ(lote.r.status, um.r.status) << lote.r.err;
  EXPECT_EQ(lote.r.report, um.r.report);
  EXPECT_EQ(Mensagens(lote.r.err), Mensagens(um.r.err));
  EXPECT_EQ(lote.r.err.find(kDesativado) != std::string::npos, c.recua) << lote.r.err;
  EXPECT_EQ(test::SnapshotDiff(um.estado, lote.estado), Linhas{});
  EXPECT_EQ(um.sql_sem_linha.size(), c.erros);
  EXPECT_EQ(lote.sql_sem_linha, c.recua ? um.sql_sem_linha : Linhas(c.erros, kDelete));
  // The per-entry mode looks up and deletes once per new entry; the deferred
  // one deletes once.
  EXPECT_EQ(Vezes(lote.trace, kLookup), c.recua ? Vezes(um.trace, kLookup) : 0);
  EXPECT_EQ(Vezes(lote.trace, kDelete), c.recua ? Vezes(um.trace, kDelete) : 1);
  EXPECT_GT(Vezes(um.trace, kLookup), 0);
}

// Commitments of every payment kind (SeedMixedCommitments), then `sql`.
Semente Gerados(int n, const std::string& sql = "") {
  return [=](TestDb& db) {
    test::SeedBasics(db);
    test::SeedSales(db);
    test::SeedMixedCommitments(db, 1, n, -7);
    db.ExecScript(sql);
  };
}

// 27 new entries, numbered 101 to 127.
const char* kSemLinhaEm7 = R"(SET TERM ^ ;
CREATE OR ALTER TRIGGER TG_CTG_CADLAN_AI FOR TB_CTG_CADLAN AFTER INSERT AS
BEGIN
  UPDATE TB_CTG_NUMLAN SET NOLANCA = NEW.NUMLAN WHERE CODEMP = NEW.CODEMP AND NOLANCA < NEW.NUMLAN;
  IF (NEW.INTLAN < 0 AND MOD(NEW.NUMLAN, 7) > 0) THEN
    INSERT INTO RETORNOLANCA (MARCA, LANCAMENTO) VALUES (NEW.INTLAN, NEW.NUMLAN);
END^
SET TERM ; ^)";
// The 3rd and 10th inserts fail with a duplicate key after their queue row
// was written, and are run again.
const char* kConflitos = R"(CREATE GENERATOR G_INSERTS;
SET TERM ^ ;
CREATE TRIGGER TG_CONFLITO FOR TB_CTG_CADLAN AFTER INSERT POSITION 10 AS
BEGIN
  IF (GEN_ID(G_INSERTS, 1) IN (3, 10)) THEN
    INSERT INTO TB_CTG_CADPLA (CODEMP, CODCON) VALUES (1, '1');
END^
SET TERM ; ^)";
const char* kSobras = R"(INSERT INTO RETORNOLANCA VALUES (-7, 55);
INSERT INTO RETORNOLANCA VALUES (-7, 56);
INSERT INTO RETORNOLANCA VALUES (-8, 400);)";

TEST(RetornoEmLote, EndsAsThePerEntryModeDoes) {
  const Caso casos[] = {
      {"demo data",
       [](TestDb& db) { db.ExecScript(test::ReadFile(KZ_SOURCE_DIR "/sql/demo.sql")); }, 0, 0,
       false},
      {"300 commitments", Gerados(300), 0, 0, false},
      {"missing rows", Gerados(12, kSemLinhaEm7), 1, 4, false},
      {"rows left by earlier runs", Gerados(12, kSobras), 0, 0, false},
      {"inserts run again", Gerados(12, kConflitos), 0, 0, false},
      {"unique key on Marca",
       Gerados(12, "ALTER TABLE RETORNOLANCA ADD CONSTRAINT UQ_RET UNIQUE (MARCA)"), 0, 0, true},
      {"unique key on Marca and Lancamento",
       Gerados(12, "ALTER TABLE RETORNOLANCA ADD PRIMARY KEY (MARCA, LANCAMENTO)"), 0, 0, false},
  };
  for (const Caso& c : casos) Compara(c, false);
}

TEST(RetornoEmLote, EndsAsThePerEntryModeDoesThroughAServer) {
  if (!test::ServerAvailable()) GTEST_SKIP() << "no Firebird server on 127.0.0.1";
  Compara({"server, missing rows", Gerados(40, kSemLinhaEm7), 1, 13, false}, true);
}

}  // namespace
}  // namespace kz

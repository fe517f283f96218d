// KZ_RETORNO=lote against the per-entry return queue: the same seeded
// database, run once in each mode, ends in the same state, with the same
// report, messages and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "tests/support/fixture.h"

namespace kz::test {
namespace {

constexpr const char* kSemLinha = "TB_GER_ERRQUBO|LanCtg|3021-";
constexpr const char* kLookup = "Select Lancamento From RetornoLanca";
constexpr const char* kDelete = "Delete From RetornoLanca Where Marca=-7\n";

struct Execucao {
  BatchResult r;
  Rows estado;
  Rows sql_sem_linha;  // the statement of each missing-row error, taken out of `estado`
  std::string trace;   // every statement the batch sent
};

Execucao Roda(bool server, const std::string& seed, const char* modo, const char* envio = "") {
  TestDb db(server, seed);
  BatchRunner run(db);
  const std::string trace = (run.Dir() / "sql.trace").string();
  Execucao e;
  e.r = run.Run(Partida{{{"KZ_RETORNO", modo}, {"KZ_SQL_TRACE", trace}, {"KZ_ENVIO", envio}}});
  e.trace = ReadFile(trace);
  EXPECT_EQ(db.Books(), Rows{});
  // A missing row's error names the statement the mode was at: the entry's
  // activity-log insert, or the one delete of the deferred mode. The server's
  // clock at start-up, which that insert holds, is not compared.
  const std::regex relogio("'[0-9/]{10} [0-9:]{8}'");
  for (std::string l : db.Snapshot()) {
    l = std::regex_replace(l, relogio, "'relogio'");
    if (l.starts_with(kSemLinha)) {
      e.sql_sem_linha.push_back(l.substr(l.rfind('|') + 1) + "\n");
      l.resize(l.rfind('|'));
    }
    e.estado.push_back(l);
  }
  std::sort(e.estado.begin(), e.estado.end());
  return e;
}

int64_t Vezes(const std::string& texto, const std::string& trecho) {
  int64_t n = 0;
  for (size_t at = texto.find(trecho); at != std::string::npos; at = texto.find(trecho, at + 1))
    ++n;
  return n;
}

struct Caso {
  const char* nome;
  std::string seed;
  int status;    // of both runs
  size_t erros;  // missing-row errors of both runs
  bool recua;    // the deferred run keeps the per-entry mode
  bool server = false;
  bool em_blocos = false;  // every commitment goes in a block (no errors, no retries)
};

void Compara(const Caso& c) {
  SCOPED_TRACE(c.nome);
  const Execucao um = Roda(c.server, c.seed, "");
  const Execucao lote = Roda(c.server, c.seed, "lote");
  EXPECT_EQ(um.r.status, c.status) << um.r.err;
  EXPECT_EQ(lote.r.status, um.r.status) << lote.r.err;
  EXPECT_EQ(lote.r.report, um.r.report);
  // Standard error without the run's time, its numbers and the fallback line.
  const std::regex varia(" em [0-9.]+ s;.*|Cancelamento de Empenhos: (KZ_RET|conexao ).*\n");
  EXPECT_EQ(std::regex_replace(lote.r.err, varia, ""), std::regex_replace(um.r.err, varia, ""));
  EXPECT_EQ(lote.r.err.find("KZ_RETORNO=lote desativado") != std::string::npos, c.recua)
      << lote.r.err;
  EXPECT_EQ(Diff(um.estado, lote.estado), Rows{});
  EXPECT_EQ(um.sql_sem_linha.size(), c.erros);
  EXPECT_EQ(lote.sql_sem_linha, c.recua ? um.sql_sem_linha : Rows(c.erros, kDelete));
  // The per-entry mode looks up and deletes once per new entry; the deferred
  // one deletes once.
  EXPECT_EQ(Vezes(lote.trace, kLookup), c.recua ? Vezes(um.trace, kLookup) : 0);
  EXPECT_EQ(Vezes(lote.trace, kDelete), c.recua ? Vezes(um.trace, kDelete) : c.status == 3 ? 0 : 1);
  EXPECT_GT(Vezes(um.trace, kLookup), 0);
  // Each commitment as one block ends as its statements one by one.
  for (const Execucao* base : {&um, &lote}) {
    const Execucao b = Roda(c.server, c.seed, base == &um ? "" : "lote", "bloco");
    EXPECT_EQ(b.r.status, base->r.status) << b.r.err;
    EXPECT_EQ(b.r.report, base->r.report);
    EXPECT_EQ(std::regex_replace(b.r.err, varia, ""), std::regex_replace(base->r.err, varia, ""));
    EXPECT_EQ(Diff(base->estado, b.estado), Rows{});
    EXPECT_EQ(b.sql_sem_linha, base->sql_sem_linha);
    // Commitments without errors all go in blocks: none statement by statement.
    EXPECT_GT(Vezes(b.trace, "block "), 0);
    if (c.em_blocos) {
      EXPECT_EQ(Vezes(b.trace, "\nSelect * From EpnPag_Cpg"), 0);
    }
  }
}

// Commitments of every payment kind, then `sql`.
std::string Gerados(int n, const std::string& sql = "") {
  return Seed("basics") + Mixed(1, n, -7) + sql;
}

TEST(RetornoEmLote, EndsAsThePerEntryModeDoes) {
  const Caso casos[] = {
      {"demo data", ReadFile(KZ_SOURCE_DIR "/sql/demo.sql"), 0, 0, false, false, true},
      {"300 commitments", Gerados(300), 0, 0, false, false, true},
      // 27 new entries, numbered 101 to 127: 4 leave no row.
      {"missing rows", Gerados(12, Seed("missing-rows")), 1, 4, false},
      // Rows of the mark left by other programs, or host triggers on the
      // queue (one row a mark; no deletes): the per-entry mode is kept.
      {"rows left by earlier runs",
       Gerados(12,
               "INSERT INTO RETORNOLANCA VALUES (-7, 55); INSERT INTO RETORNOLANCA VALUES "
               "(-7, 56); INSERT INTO RETORNOLANCA VALUES (-8, 400);"),
       0, 0, true},
      {"a trigger keeps one row a mark", Gerados(12, Seed("queue-triggers")), 0, 0, true},
      {"a trigger refuses deletes",
       Gerados(12, Seed("queue-triggers") +
                       "ALTER TRIGGER TG_RET_UMA INACTIVE; ALTER TRIGGER TG_RET_FICA ACTIVE;"),
       1, 0, true},
      {"inserts run again", Gerados(12, Seed("inserts-again")), 0, 0, false},
      // Card discounts of 6 decimals, texts that look like SQL, markers, Null,
      // dates or numbers, a 5000-character history, an empty account.
      {"world", Seed("basics") + Seed("world"), 1, 0, false},
      {"a failing commitment",
       Gerados(12,
               "CREATE EXCEPTION EX_CARTAO 'fatura recusada'; SET TERM ^; CREATE TRIGGER "
               "TG_CARTAO FOR TB_REC_CADDUP BEFORE UPDATE AS BEGIN EXCEPTION EX_CARTAO; END^ "
               "SET TERM ;^"),
       3, 0, false},
      {"unique key on Marca",
       Gerados(12, "ALTER TABLE RETORNOLANCA ADD CONSTRAINT UQ_RET UNIQUE (MARCA)"), 0, 0, true},
      {"unique key on Marca and Lancamento",
       Gerados(12, "ALTER TABLE RETORNOLANCA ADD PRIMARY KEY (MARCA, LANCAMENTO)"), 0, 0, false},
      // 40 commitments through a server: 77 new entries, 13 leave no row.
      {"server", Gerados(40, Seed("missing-rows")), 1, 13, false, true},
  };
  for (const Caso& c : casos) {
    Compara(c);
  }
}

}  // namespace
}  // namespace kz::test

#include "bench/bench_database.h"

#include <cstdio>
#include <vector>

#include "tests/support/fixture.h"

namespace kz::bench {
namespace {

constexpr int kProducts = 500;
constexpr int kProductsWithStatistics = 480;  // the rest get a row from the run
constexpr int kClients = 2000;

// Runs a statement, or several each ended by ";" at the end of a line, in the
// test connection's transaction (the fixture's Exec would go through isql).
void Exec(test::TestDb& db, const std::string& sql) {
  size_t from = 0;
  for (size_t end; (end = sql.find(";\n", from)) != std::string::npos; from = end + 2) {
    db.Conn().Execute(sql.substr(from, end - from));
  }
  if (sql.find_first_not_of(" \n", from) != std::string::npos) db.Conn().Execute(sql.substr(from));
}

struct Item {
  int produto;
  std::string quantidade;  // SQL literals
  std::string custo;
};

struct Pagamento {
  int condicao;
  std::string valor;  // SQL literal
  std::string cheque = "";
  std::string banco = "";
  std::string agencia = "";
};

// One commitment with its items and payment rows (numbered from 1).
void InsereEmpenho(test::TestDb& db, int codigo, int cliente, int tpv, const std::string& nfs,
                   int status, const std::vector<Item>& itens,
                   const std::vector<Pagamento>& pagamentos) {
  const std::string cod = std::to_string(codigo);
  Exec(db, "INSERT INTO TB_VDA_CADEPN (CODEPN, CLIEPN, TPVEPN, NFSEPN, STAEPN) VALUES (" + cod +
               ", " + std::to_string(cliente) + ", " + std::to_string(tpv) + ", " +
               (nfs.empty() ? std::string("NULL") : test::Lit(nfs)) + ", " +
               std::to_string(status) + ")");
  int seq = 0;
  for (const Item& i : itens) {
    Exec(db, "INSERT INTO TB_VDA_CADEPNIT VALUES (" + cod + ", " + std::to_string(++seq) + ", " +
                 std::to_string(i.produto) + ", " + i.quantidade + ", " + i.custo + ")");
  }
  seq = 0;
  for (const Pagamento& p : pagamentos) {
    Exec(db, "INSERT INTO TB_VDA_EPNPAG VALUES (" + cod + ", " + std::to_string(++seq) + ", " +
                 std::to_string(p.condicao) + ", " + p.valor + ", " + test::Lit(p.cheque) + ", " +
                 test::Lit(p.banco) + ", " + test::Lit(p.agencia) + ")");
  }
}

std::string Money(int cents) {
  char text[32];
  std::snprintf(text, sizeof text, "%d.%02d", cents / 100, cents % 100);
  return text;
}

// Levels: 4 groups, 3 subgroups each, 4 accounts each, 6 leaves each.
void BuildChart(test::TestDb& db, int company) {
  static const char* kGroups[] = {"ATIVO", "PASSIVO", "RECEITAS", "CUSTOS E DESPESAS"};
  const std::string emp = std::to_string(company);
  auto insert = [&](const std::string& code, const std::string& name) {
    Exec(db, "INSERT INTO TB_CTG_CADPLA (CODEMP, CODCON, NOMCON) VALUES (" + emp + ", '" + code +
                 "', '" + name + "')");
  };
  for (int g = 1; g <= 4; ++g) {
    const std::string g_code = std::to_string(g);
    insert(g_code, kGroups[g - 1]);
    for (int s = 1; s <= 3; ++s) {
      const std::string s_code = g_code + "." + std::to_string(s);
      insert(s_code, std::string(kGroups[g - 1]) + " " + std::to_string(s));
      for (int a = 1; a <= 4; ++a) {
        char a_code[32];
        std::snprintf(a_code, sizeof a_code, "%s.%02d", s_code.c_str(), a);
        insert(a_code, std::string("CONTA ") + a_code);
        for (int l = 1; l <= 6; ++l) {
          char l_code[32];
          std::snprintf(l_code, sizeof l_code, "%s.%03d", a_code, l);
          insert(l_code, std::string("CONTA ") + l_code);
        }
      }
    }
  }
}

enum Kind { kCash = 0, kDuplicate = 1, kCard = 2, kCheque = 3 };

struct Condition {
  int code;
  Kind kind;
};

// The payment conditions, in the order the payment rows cycle through them.
constexpr Condition kConditions[] = {
    {1, kDuplicate}, {3, kCard}, {6, kCheque}, {8, kCash}, {2, kDuplicate},
    {4, kCard},      {5, kCard}, {7, kCheque}, {9, kCash}, {10, kCash},
};

void BuildSettings(test::TestDb& db) {
  Exec(db, R"(
INSERT INTO TB_GER_PARAMETROS (EMPCTG, CTACLI, CTAVDAPRZ, CTAVDAVIS, CTAVDACAR, CTACXAMAT,
  CTACXAFIL, CTADSCCLI, LOCCXAMAT, LOCCXAFIL, CTACTOVDA, CTAESTBAI, MORA)
  VALUES (1, '1.1.02.001', '3.1.01.001', '3.1.02.001', '3.1.03.001', '1.1.01.001',
  '1.1.01.002', '3.2.01.001', '1', '2', '4.1.01.001', '1.1.03.001', 2);
INSERT INTO TB_CTG_NUMLAN (CODEMP, NOLANCA) VALUES (1, 250000);
INSERT INTO TB_CTG_NUMLAN (CODEMP, NOLANCA) VALUES (2, 90000);
INSERT INTO TB_VDA_CADCONV VALUES (10, 'CREDITO MENSAL A', 1, 2.5);
INSERT INTO TB_VDA_CADCONV VALUES (11, 'CREDITO MENSAL B', 1, 3.1);
INSERT INTO TB_VDA_CADCONV VALUES (12, 'DEBITO DIARIO', 0, 1.5);
INSERT INTO TB_VDA_CADCPG VALUES (1, 'DUPLICATA 30 DIAS', '1.1.02.001', '3.1.01.001', 1, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (2, 'DUPLICATA 30/60/90', '1.1.02.002', '3.1.01.002', 1, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (3, 'CARTAO CREDITO A', '1.1.04.001', '3.1.03.001', 2, 10);
INSERT INTO TB_VDA_CADCPG VALUES (4, 'CARTAO CREDITO B', '1.1.04.002', '3.1.03.002', 2, 11);
INSERT INTO TB_VDA_CADCPG VALUES (5, 'CARTAO DEBITO', '1.1.04.003', '3.1.03.003', 2, 12);
INSERT INTO TB_VDA_CADCPG VALUES (6, 'CHEQUE A VISTA', '1.1.01.004', '3.1.02.001', 3, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (7, 'CHEQUE PRE-DATADO', '1.2.01.001', '3.1.02.002', 3, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (8, 'DINHEIRO', '1.1.01.001', '3.1.02.003', 0, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (9, 'DINHEIRO FILIAL', '1.1.01.002', '3.1.02.004', 0, NULL);
INSERT INTO TB_VDA_CADCPG VALUES (10, 'VALE CLIENTE', '1.1.01.003', '3.2.01.001', 0, NULL);
)");
  // The card agreements' open invoices: two monthly, one for the day.
  for (const char* invoice : {"(10, '12-2017'", "(11, '12-2017'", "(12, '25-12-2017'"}) {
    const std::string keys = std::string(invoice) + ", '0', '0', '0'";
    Exec(db, "INSERT INTO TB_REC_CADFAT VALUES " + keys + ", 9000000)");
    Exec(db, "INSERT INTO TB_REC_CADDUP VALUES " + keys + ", 1, 4500000)");
    Exec(db, "INSERT INTO TB_REC_CADDUP VALUES " + keys + ", 2, 4500000)");
  }
  for (int p = 1; p <= kProducts; ++p) {
    const std::string prod = std::to_string(p);
    Exec(db, "INSERT INTO TB_EST_SALDO VALUES (" + prod + ", 100000)");
    if (p <= kProductsWithStatistics) {
      Exec(db, "INSERT INTO TB_VDA_VENPRO (PROVEN, ANOVEN, MES11, MES12) VALUES (" + prod +
                   ", 2017, 800, 100000)");
    }
  }
}

void BuildCommitment(test::TestDb& db, int i) {
  const int code = kFirstCode + i;
  const std::string cod = std::to_string(code);
  const int client = 1 + (i * 37) % kClients;
  const std::string cli = std::to_string(client);
  const bool u1 = i % 5 == 0;

  std::vector<Item> items;
  for (int k = 0; k < 3; ++k) {
    items.push_back({1 + (i * 7 + k * 13) % kProducts, std::to_string(1 + (i + k) % 5),
                     Money(150 + (i * 31 + k * 17) % 9000)});
  }
  std::vector<Pagamento> payments;
  int duplicate_total = 0;
  for (int k = 0; k < 3; ++k) {
    const Condition& c = kConditions[(i * 3 + k) % 10];
    const int cents = 1000 + (i * 53 + k * 29) % 40000;
    Pagamento p{c.code, Money(cents)};
    if (c.kind == kCheque) {
      char number[16];
      std::snprintf(number, sizeof number, "%06d", (i * 3 + k) % 1000000);
      p.cheque = number;
      p.banco = c.code == 6 ? "001" : "237";
      p.agencia = std::to_string(1000 + i % 900);
      // The cheque as it was registered: the commitment code in the account.
      const std::string keys = "(" + cli + ", " + test::Lit(p.cheque) + ", " + test::Lit(p.banco) +
                               ", " + test::Lit(p.agencia) + ", '" + cod + "'";
      Exec(db, "INSERT INTO TB_REC_CADFAT VALUES " + keys + ", " + p.valor + ")");
      Exec(db, "INSERT INTO TB_REC_CADDUP VALUES " + keys + ", 1, " + p.valor + ")");
    }
    if (c.kind == kDuplicate) duplicate_total += cents;
    payments.push_back(p);
  }
  InsereEmpenho(db, code, client, i % 3 == 0 ? 0 : 1, u1 ? "U1" : (i % 2 ? "1" : ""), kStatus,
                items, payments);
  if (duplicate_total > 0) {
    // One invoice for the sale, in three instalments.
    const std::string keys = "(" + cli + ", '" + cod + (u1 ? "*" : "") + "', '0', '0', '0'";
    Exec(db, "INSERT INTO TB_REC_CADFAT VALUES " + keys + ", " + Money(duplicate_total) + ")");
    for (int n = 1; n <= 3; ++n) {
      Exec(db, "INSERT INTO TB_REC_CADDUP VALUES " + keys + ", " + std::to_string(n) + ", " +
                   Money(duplicate_total / 3) + ")");
    }
  }
}

}  // namespace

std::string RunLine(int commitments) {
  return "25/12/2017|" + std::to_string(kStatus) + "|" + std::to_string(kFirstCode) + "|" +
         std::to_string(kFirstCode + commitments - 1) + "|12";
}

void BuildBooks(test::TestDb& db, int commitments) {
  Connection& c = db.Conn();
  c.BeginTrans();
  BuildChart(db, 1);
  BuildChart(db, 2);
  BuildSettings(db);
  for (int i = 0; i < commitments; ++i) BuildCommitment(db, i);
  // Delivered sales: they keep their status.
  for (int i = 0; i < commitments / 4; ++i) {
    InsereEmpenho(db, kFirstCode + commitments + i, 1 + i % kClients, 1, "", 2,
                  {{1 + i % kProducts, "1", "10.00"}}, {{8, "25.00"}});
  }
  c.CommitTrans();
  db.Detach();
}

}  // namespace kz::bench

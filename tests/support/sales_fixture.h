#pragma once

#include <string>
#include <vector>

#include "tests/support/test_db.h"

namespace kz::test {

// Payment conditions 1 (duplicates), 2 (card, agreement 4: monthly, 2.5 %),
// 3 (cheque), 4 (cash, no receivable), all debiting 1.1.01 and crediting
// 3.1.02; agreement 5 is daily with 3 %.
void SeedSales(TestDb& db);

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
void InsereEmpenho(TestDb& db, int codigo, int cliente, int tpv, const std::string& nfs, int status,
                   const std::vector<Item>& itens, const std::vector<Pagamento>& pagamentos);

// `count` commitments numbered from `first`, all of status `mark`, of four
// kinds taken in turn by code: duplicates with statistics, card, cheque with
// statistics, cash and card. Each has two items of products shared across
// commitments (11 to 15, which have statistics and stock rows for 2017, and
// 20 to 26, which have none) and the receivables its payments created; the
// card payments share agreement 4's invoice of 12-2017. Needs SeedBasics and
// SeedSales; one transaction.
void SeedMixedCommitments(TestDb& db, int first, int count, int mark);

// The SQL literal of a text, quotes doubled.
std::string Lit(const std::string& text);

}  // namespace kz::test

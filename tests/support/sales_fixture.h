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

// The SQL literal of a text, quotes doubled.
std::string Lit(const std::string& text);

}  // namespace kz::test

#pragma once

#include <string>

#include "tests/support/fixture.h"

namespace kz::bench {

// The status the benchmark's commitments wait under, the booking date and
// the user of the run, as its settings line names them.
inline constexpr int kStatus = -7;
inline constexpr int kFirstCode = 100001;

// The settings line for a run over `commitments` commitments.
std::string RunLine(int commitments);

// Fills a fresh database with the books of a shop: a chart of 352 accounts in
// four levels (1 / 1.1 / 1.1.01 / 1.1.01.001) for each of two companies, ten
// payment conditions of every kind (duplicates, three card agreements, two
// cheque kinds, cash) over varied leaf accounts, `commitments` commitments of
// status kStatus with 3 items and 3 payment rows of mixed kinds each, the
// receivables those payments created (invoices and instalments, card
// invoices, cheques), the sales statistics of the year, stock balances, and a
// quarter as many delivered commitments that the run leaves alone. Runs in
// one transaction.
void BuildBooks(test::TestDb& db, int commitments);

}  // namespace kz::bench

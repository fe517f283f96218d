#pragma once

#include <string>
#include <vector>

#include "tests/support/test_db.h"

namespace kz::test {

// Every row of the tables a run changes, one line each ("TABLE|v1|v2|..."),
// sorted. Left out because they differ between two runs that did the same
// work: an entry's DATHOR (the local clock at posting), a log row's DATLOG
// (the server clock at start-up), and SEQLOG and SEQMOV, which generators
// hand out (a rolled-back or repeated statement still uses values up).
// Without `entry_numbers`, NUMLAN is left out as well: two runs at once take
// the numbers in an order of their own.
std::vector<std::string> Snapshot(TestDb& db, bool entry_numbers = true);

// The lines only in `expected` ("- ...") and only in `actual` ("+ ..."), at
// most 20 of each; empty when the snapshots are equal.
std::vector<std::string> SnapshotDiff(const std::vector<std::string>& expected,
                                      const std::vector<std::string>& actual);

// Compares, for every account and month, the stored debit and credit totals
// with the sums of the entries of TB_CTG_CADLAN whose account the account's
// code begins. Returns one text per mismatch (empty when the books agree).
// Assumes the totals started at zero.
std::vector<std::string> BooksMismatches(TestDb& db);

}  // namespace kz::test

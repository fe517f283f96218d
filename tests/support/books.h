#pragma once

#include <string>
#include <vector>

#include "tests/support/test_db.h"

namespace kz::test {

// Compares, for every account and month, the stored debit and credit totals
// with the sums of the entries of TB_CTG_CADLAN whose account the account's
// code begins. Returns one text per mismatch (empty when the books agree).
// Assumes the totals started at zero.
std::vector<std::string> BooksMismatches(TestDb& db);

}  // namespace kz::test

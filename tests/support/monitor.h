#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "tests/support/test_db.h"

namespace kz::test {

// What another attachment sees of a running batch through the server's
// monitoring tables (MON$), so that a test can act at chosen points of a run.
// The batch's attachments are those whose remote process is the built
// program; the tables show the attachments of the test's own database only.
// Each call reads a fresh picture (a short transaction of its own).

// The batch's statements now running whose text contains `fragment` (every
// running one when it is empty). A statement waiting for a row lock counts as
// running for as long as it waits.
int64_t BatchStatementsRunning(TestDb& db, const std::string& fragment = "");

// The rows the batch's attachments have inserted so far.
int64_t BatchRecordInserts(TestDb& db);

// Ends the batch's attachments from the test's own: the server cuts them as
// an administrator would.
void CutBatchAttachments(TestDb& db);

// Asks `done` every 20 ms until it holds; false when `limit` passes first.
bool PollUntil(const std::function<bool()>& done,
               std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace kz::test

#include "tests/support/monitor.h"

#include <thread>

#include "tests/support/sales_fixture.h"

namespace kz::test {
namespace {

constexpr const char* kDoLote = "A.MON$REMOTE_PROCESS CONTAINING 'cancela-empenhos'";

}  // namespace

int64_t BatchStatementsRunning(TestDb& db, const std::string& fragment) {
  return db.Count(
      std::string("SELECT COUNT(*) FROM MON$STATEMENTS S JOIN MON$ATTACHMENTS A ON "
                  "A.MON$ATTACHMENT_ID = S.MON$ATTACHMENT_ID WHERE S.MON$STATE = 1 AND ") +
      kDoLote + (fragment.empty() ? "" : " AND S.MON$SQL_TEXT CONTAINING " + Lit(fragment)));
}

int64_t BatchRecordInserts(TestDb& db) {
  return db.Count(std::string("SELECT SUM(R.MON$RECORD_INSERTS) FROM MON$ATTACHMENTS A JOIN "
                              "MON$RECORD_STATS R ON R.MON$STAT_ID = A.MON$STAT_ID WHERE ") +
                  kDoLote);
}

void CutBatchAttachments(TestDb& db) {
  db.Exec(std::string("DELETE FROM MON$ATTACHMENTS A WHERE A.MON$ATTACHMENT_ID <> "
                      "CURRENT_CONNECTION AND ") +
          kDoLote);
}

bool PollUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace kz::test

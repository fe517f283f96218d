#pragma once

// Statement capture, an operator's diagnostic and the input of the benchmark's
// replay. When the environment variable KZ_SQL_TRACE names a file, the data
// layer appends to it, in the order sent, the text of every statement it
// sends to the server: one record per statement,
//
//   <kind> <bytes>\n<text>\n
//
// where <kind> is `command` (execute immediate), `count` (prepared and run
// for its count of changed rows), `cursor` (a query opened as a record set) or
// `insert` (a record set's bound insert; the text holds its "?" markers, the
// values are not written) or `block` (a commitment's statements as one
// EXECUTE BLOCK, data/bloco.h; the text holds its parameters, the values are
// not written). <bytes> is the length of <text>, which may itself
// hold line breaks. Connection texts and passwords are never written.
//
// The file is opened once per process, on the first statement, and written
// through a buffer that the run's watcher flushes five times a second
// (data/vigia.h), so the file shows what the run is doing while it runs (the
// statement a waiting run waits in included) without a write per statement.
// When the variable is unset or empty the cost is one test of a cached flag
// per statement.

#include <string_view>

namespace kz {

enum class SqlKind { kCommand, kCount, kCursor, kInsert, kBlock };

namespace sql_trace_detail {
bool Enabled();  // reads KZ_SQL_TRACE once
void Flush();
void Write(SqlKind kind, std::string_view sql);
}  // namespace sql_trace_detail

// Puts what the trace holds so far into its file (thread-safe).
inline void FlushSqlTrace() {
  if (sql_trace_detail::Enabled()) sql_trace_detail::Flush();
}

inline void TraceSql(SqlKind kind, std::string_view sql) {
  if (sql_trace_detail::Enabled()) sql_trace_detail::Write(kind, sql);
}

}  // namespace kz

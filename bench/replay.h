#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kz::bench {

// The group a statement belongs to in the profile: its text with string
// literals, numbers (also those ending a column name, as in SldD12), bare
// Nulls and lists of them replaced by "?", blanks squeezed.
std::string Family(std::string_view sql);
// A family shortened for a table row of at most `width` characters.
std::string ShortFamily(const std::string& family, size_t width);

struct FamilyTimes {
  std::string family;
  uint64_t count = 0;
  uint64_t total_ns = 0;
  uint64_t first_ns = 0;  // mean of the first tenth of the calls
  uint64_t last_ns = 0;   // mean of the last tenth of the calls
  uint64_t max_ns = 0;
};

// What the replay process measured.
struct ReplayRun {
  uint64_t attach_ns = 0;  // attach and start of the transaction
  uint64_t commit_ns = 0;
  uint64_t detach_ns = 0;
  uint64_t skipped = 0;                // bound inserts: their values are not captured
  std::vector<uint64_t> statement_ns;  // one per replayed statement, in capture order
};

struct ReplayProfile {
  uint64_t statements = 0;
  uint64_t statements_ns = 0;         // sum over all statements
  std::vector<FamilyTimes> families;  // by total time, largest first
};

// Replays a statement capture (see data/sql_trace.h) on the database at
// `location` (a path for the embedded engine, or host:path with the local
// server's SYSDBA password) through the client library's own interfaces, in
// one transaction (read committed, record version, wait), and commits:
// commands by execute immediate, counts by prepare/execute/affected records,
// cursors opened and fetched to the end. Only the times are kept in the loop,
// so that the replay costs the database's work and little else. Throws on the
// first failure.
ReplayRun Replay(const std::string& trace_file, const std::string& location);

void WriteReplayRun(const ReplayRun& r, const std::string& file);
ReplayRun ReadReplayRun(const std::string& file);

// The statement times of a replay grouped by family (the capture is read
// again for the texts).
ReplayProfile Profile(const std::string& trace_file, const ReplayRun& run);

}  // namespace kz::bench

#include "data/sql_trace.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace kz::sql_trace_detail {
namespace {

// The open trace file. A file that cannot be opened turns capture off.
class TraceFile {
 public:
  TraceFile() {
    const char* path = std::getenv("KZ_SQL_TRACE");
    if (!path || !*path) return;
    f_ = std::fopen(path, "ab");
    if (f_) std::setvbuf(f_, nullptr, _IOFBF, 1 << 16);
  }
  ~TraceFile() {
    if (f_) std::fclose(f_);
  }
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;
  std::FILE* get() const { return f_; }

 private:
  std::FILE* f_ = nullptr;
};

TraceFile& File() {
  static TraceFile file;
  return file;
}

const char* KindName(SqlKind kind) {
  switch (kind) {
    case SqlKind::kCommand:
      return "command";
    case SqlKind::kCount:
      return "count";
    case SqlKind::kCursor:
      return "cursor";
    case SqlKind::kInsert:
      return "insert";
    case SqlKind::kBlock:
      return "block";
  }
  return "command";
}

}  // namespace

bool Enabled() {
  static const bool on = File().get() != nullptr;
  return on;
}

void Write(SqlKind kind, std::string_view sql) {
  std::FILE* f = File().get();
  char bytes[24];
  const auto end = std::to_chars(bytes, bytes + sizeof bytes, sql.size()).ptr;
  std::fputs(KindName(kind), f);
  std::fputc(' ', f);
  std::fwrite(bytes, 1, static_cast<size_t>(end - bytes), f);
  std::fputc('\n', f);
  std::fwrite(sql.data(), 1, sql.size(), f);
  std::fputc('\n', f);
}

void Flush() {
  if (std::FILE* f = File().get()) std::fflush(f);
}

}  // namespace kz::sql_trace_detail

#include "bench/replay.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fstream>
#include <map>
#include <stdexcept>

#include "data/fb_session.h"
#include "tests/support/fixture.h"

using namespace Firebird;

namespace kz::bench {
namespace {

bool IsWordChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "?,?,?" (blanks allowed) becomes one "?".
std::string SqueezeLists(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    out += s[i];
    if (s[i] != '?') continue;
    for (;;) {
      size_t j = i + 1;
      while (j < s.size() && s[j] == ' ') ++j;
      if (j >= s.size() || s[j] != ',') break;
      ++j;
      while (j < s.size() && s[j] == ' ') ++j;
      if (j >= s.size() || s[j] != '?') break;
      i = j;
    }
  }
  return out;
}

uint64_t Nanos(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(b - a).count());
}

// Reads the records of a capture one at a time.
class TraceReader {
 public:
  explicit TraceReader(const std::string& file) : in_(file, std::ios::binary) {
    if (!in_) throw std::runtime_error("cannot read " + file);
  }
  bool Next(std::string& kind, std::string& text) {
    std::string header;
    if (!std::getline(in_, header)) return false;
    const auto blank = header.find(' ');
    if (blank == std::string::npos) throw std::runtime_error("bad capture record: " + header);
    kind = header.substr(0, blank);
    const size_t bytes = std::stoul(header.substr(blank + 1));
    text.resize(bytes);
    in_.read(text.data(), static_cast<std::streamsize>(bytes));
    if (in_.gcount() != static_cast<std::streamsize>(bytes) || in_.get() != '\n') {
      throw std::runtime_error("truncated capture record");
    }
    return true;
  }

 private:
  std::ifstream in_;
};

}  // namespace

std::string Family(std::string_view sql) {
  std::string out;
  auto last_sign = [&]() -> char {
    for (auto it = out.rbegin(); it != out.rend(); ++it)
      if (*it != ' ') return *it;
    return '(';
  };
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'') {
      // A string literal, quotes doubled inside.
      ++i;
      while (i < sql.size()) {
        if (sql[i] == '\'' && i + 1 < sql.size() && sql[i + 1] == '\'') {
          i += 2;
        } else if (sql[i] == '\'') {
          ++i;
          break;
        } else {
          ++i;
        }
      }
      out += '?';
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      while (i < sql.size() && std::isspace(static_cast<unsigned char>(sql[i]))) ++i;
      if (!out.empty()) out += ' ';
    } else if (IsDigit(c) ||
               (c == '-' && i + 1 < sql.size() && IsDigit(sql[i + 1]) &&
                std::string_view("=(,+-*/<> ").find(last_sign()) != std::string_view::npos)) {
      ++i;
      while (i < sql.size() && (IsDigit(sql[i]) || sql[i] == '.')) ++i;
      out += '?';
    } else if (IsWordChar(c)) {
      size_t j = i;
      while (j < sql.size() && IsWordChar(sql[j]) && !IsDigit(sql[j])) ++j;
      std::string word(sql.substr(i, j - i));
      std::string upper = word;
      for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
      const bool whole = j >= sql.size() || !IsWordChar(sql[j]);
      out += upper == "NULL" && whole ? "?" : word;
      i = j;
    } else {
      out += c;
      ++i;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return SqueezeLists(out);
}

std::string ShortFamily(const std::string& family, size_t width) {
  std::string s = family;
  // An insert's column list says little: "INSERT INTO T (...) VALUES (...)".
  std::string upper = s;
  for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  const auto ins = upper.find("INSERT INTO ");
  if (ins != std::string::npos) {
    const auto open = s.find('(', ins);
    const auto close = open == std::string::npos ? open : s.find(')', open);
    if (close != std::string::npos && close - open > 8) s.replace(open, close - open + 1, "(...)");
  }
  if (s.size() > width) s = s.substr(0, width - 3) + "...";
  return s;
}

ReplayRun Replay(const std::string& trace_file, const std::string& location) {
  using Clock = std::chrono::steady_clock;
  FbApi& api = FbApi::Get();
  ThrowStatusWrapper st(api.master->getStatus());
  ReplayRun r;
  IAttachment* att = nullptr;
  ITransaction* tra = nullptr;
  try {
    const std::vector<unsigned char> tpb = RunTransactionTpb(false);
    const bool remote = location.find(':') != std::string::npos;
    const std::string password = remote ? test::ServerPassword() : "";
    TraceReader reader(trace_file);
    const auto t0 = Clock::now();
    IXpbBuilder* dpb = api.util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&st, isc_dpb_password, password.c_str());
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1252");
    // As the batch does: a plain path never falls back to a server.
    if (!remote) dpb->insertString(&st, isc_dpb_config, "Providers=Engine12");
    att = api.dispatcher->attachDatabase(&st, location.c_str(), dpb->getBufferLength(&st),
                                         dpb->getBuffer(&st));
    dpb->dispose();
    tra = att->startTransaction(&st, static_cast<unsigned>(tpb.size()), tpb.data());
    r.attach_ns = Nanos(t0, Clock::now());

    std::string kind, text;
    std::vector<unsigned char> row;
    while (reader.Next(kind, text)) {
      if (kind == "insert") {
        ++r.skipped;
        continue;
      }
      const auto a = Clock::now();
      if (kind == "command") {
        att->execute(&st, tra, 0, text.c_str(), SQL_DIALECT_V6, nullptr, nullptr, nullptr, nullptr);
      } else if (kind == "count") {
        IStatement* stmt = att->prepare(&st, tra, 0, text.c_str(), SQL_DIALECT_V6, 0);
        stmt->execute(&st, tra, nullptr, nullptr, nullptr, nullptr);
        (void)stmt->getAffectedRecords(&st);
        stmt->free(&st);
      } else if (kind == "cursor") {
        IResultSet* rs = att->openCursor(&st, tra, 0, text.c_str(), SQL_DIALECT_V6, nullptr,
                                         nullptr, nullptr, nullptr, 0);
        IMessageMetadata* meta = rs->getMetadata(&st);
        row.resize(meta->getMessageLength(&st));
        while (rs->fetchNext(&st, row.data()) == IStatus::RESULT_OK) {
        }
        rs->close(&st);
        meta->release();
      } else {
        throw std::runtime_error("unknown capture kind " + kind);
      }
      r.statement_ns.push_back(Nanos(a, Clock::now()));
    }
    const auto t2 = Clock::now();
    tra->commit(&st);
    tra = nullptr;
    const auto t3 = Clock::now();
    att->detach(&st);
    att = nullptr;
    r.commit_ns = Nanos(t2, t3);
    r.detach_ns = Nanos(t3, Clock::now());
  } catch (const FbException& e) {
    const std::string text = ToRuntimeError(e, "").Description();
    if (tra) tra->release();
    if (att) att->release();
    st.dispose();
    throw std::runtime_error("replay: " + text);
  }
  st.dispose();
  return r;
}

ReplayProfile Profile(const std::string& trace_file, const ReplayRun& run) {
  std::map<std::string, std::vector<uint64_t>> times;
  TraceReader reader(trace_file);
  std::string kind, text;
  size_t k = 0;
  while (reader.Next(kind, text)) {
    if (kind == "insert") continue;
    if (k >= run.statement_ns.size()) throw std::runtime_error("the replay ran fewer statements");
    times[Family(text)].push_back(run.statement_ns[k++]);
  }
  ReplayProfile p;
  p.statements = k;
  for (auto& [family, v] : times) {
    FamilyTimes f;
    f.family = family;
    f.count = v.size();
    const size_t tenth = std::max<size_t>(1, v.size() / 10);
    uint64_t first = 0, last = 0;
    for (size_t i = 0; i < v.size(); ++i) {
      f.total_ns += v[i];
      f.max_ns = std::max(f.max_ns, v[i]);
      if (i < tenth) first += v[i];
      if (i >= v.size() - tenth) last += v[i];
    }
    f.first_ns = first / tenth;
    f.last_ns = last / tenth;
    p.statements_ns += f.total_ns;
    p.families.push_back(std::move(f));
  }
  std::sort(p.families.begin(), p.families.end(),
            [](const FamilyTimes& a, const FamilyTimes& b) { return a.total_ns > b.total_ns; });
  return p;
}

void WriteReplayRun(const ReplayRun& r, const std::string& file) {
  std::ofstream out(file, std::ios::trunc);
  out << r.attach_ns << ' ' << r.commit_ns << ' ' << r.detach_ns << ' ' << r.skipped << ' '
      << r.statement_ns.size() << '\n';
  for (uint64_t ns : r.statement_ns) out << ns << '\n';
  if (!out) throw std::runtime_error("cannot write " + file);
}

ReplayRun ReadReplayRun(const std::string& file) {
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot read " + file);
  ReplayRun r;
  size_t n = 0;
  in >> r.attach_ns >> r.commit_ns >> r.detach_ns >> r.skipped >> n;
  r.statement_ns.resize(n);
  for (uint64_t& ns : r.statement_ns) in >> ns;
  if (!in) throw std::runtime_error("bad replay times in " + file);
  return r;
}

}  // namespace kz::bench

#include "data/record_set.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

#include "data/connection.h"
#include "data/fb_session.h"
#include "data/sql_trace.h"
#include "data/value_codec.h"

using namespace Firebird;

namespace kz {

struct FbCursor {
  FbSession* session = nullptr;
  IResultSet* rs = nullptr;
  IMessageMetadata* meta = nullptr;
  ITransaction* tra = nullptr;
  bool owns_tra = false;  // a read-only transaction of its own, outside BeginTrans
  std::vector<unsigned char> buf;
  std::vector<ColumnLayout> columns;
  std::vector<std::string> names;  // column aliases, upper case
  std::string source;              // the query, for the watcher and error messages
  bool open = false;
  bool has_row = false;
  // Rows in memory (read ahead, or Materializa), and the current one.
  bool memoria = false;
  std::vector<std::vector<Value>> linhas;
  size_t pos = 0;
  // Append mode.
  bool append = false;
  std::string table;
  std::vector<std::pair<std::string, Value>> pending;
};

namespace {

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& ch : out) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return out;
}

// Whether `name` is the upper-case column name `upper`, without regard to
// case (no copy: fields are read by name for every row).
bool SameName(std::string_view upper, std::string_view name) {
  if (upper.size() != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (upper[i] != static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])))) {
      return false;
    }
  }
  return true;
}

// The table of "SELECT * FROM <table>".
std::string TableOf(const std::string& source) {
  const std::string up = Upper(source);
  const auto at = up.find("FROM");
  if (at == std::string::npos)
    Raise(3001, "Arguments are of the wrong type: no table in " + source);
  size_t b = at + 4;
  while (b < source.size() && std::isspace(static_cast<unsigned char>(source[b]))) ++b;
  size_t e = b;
  while (e < source.size() && !std::isspace(static_cast<unsigned char>(source[e])) &&
         source[e] != ';')
    ++e;
  return source.substr(b, e - b);
}

// A fetch may wait for a row lock (SELECT ... WITH LOCK) or for the server.
void Fetch(FbCursor& c) {
  c.has_row = false;
  const ComandoEmCurso comando(*c.session, c.source);
  FbStatus st;
  try {
    c.has_row = c.rs->fetchNext(&st, c.buf.data()) == IStatus::RESULT_OK;
  } catch (const FbException& e) {
    comando.Fail(e);
  }
}

}  // namespace

ITransaction* CursorTransaction(const FbCursor* c) { return c->tra; }

void CloseCursor(FbCursor* c) {
  // On a lost line nothing more goes out: the handles are let go.
  if (c->session && c->session->perdida) {
    ReleaseQuietly(c->rs);
    if (c->owns_tra) ReleaseQuietly(c->tra);
  }
  if (c->rs) {
    FbStatus st;
    try {
      c->rs->close(&st);
      c->rs = nullptr;
    } catch (const FbException&) {
      ReleaseQuietly(c->rs);
    }
  }
  if (c->meta) {
    c->meta->release();
    c->meta = nullptr;
  }
  if (c->owns_tra && c->tra) {
    FbStatus st;
    try {
      c->tra->commit(&st);
      c->tra = nullptr;
    } catch (const FbException&) {
      ReleaseQuietly(c->tra);
    }
  }
  c->tra = nullptr;
  c->owns_tra = false;
  if (c->session) {
    auto& v = c->session->cursors;
    v.erase(std::remove(v.begin(), v.end(), c), v.end());
    c->session = nullptr;
  }
  c->open = false;
  c->has_row = false;
  c->append = false;
  c->pending.clear();
  c->memoria = false;
  c->linhas.clear();
  c->pos = 0;
}

RecordSet::RecordSet() : c_(std::make_unique<FbCursor>()) {}

RecordSet::~RecordSet() { CloseCursor(c_.get()); }

void RecordSet::Open(const std::string& source, Connection& conexao, int cursor_type, int lock_type,
                     int /*options*/) {
  if (c_->open) Raise(3705, "Operation is not allowed when the object is open.");
  FbSession& s = conexao.Session();
  FbCursor& c = *c_;
  if (s.gravacao) {
    // A recorded commitment's query: the rows read ahead for its text.
    if (!s.gravacao->leituras) throw ForaDoBloco{};
    const auto it = s.gravacao->leituras->find(source);
    if (it == s.gravacao->leituras->end()) throw ForaDoBloco{};
    c.names = it->second.nomes;
    c.linhas = it->second.linhas;
    c.memoria = true;
    c.pos = 0;
    c.has_row = !c.linhas.empty();
    c.source = source;
    c.open = true;
    return;
  }
  if (cursor_type == adOpenDynamic && lock_type == adLockOptimistic) {
    c.table = TableOf(source);
    c.append = true;
  } else {
    c.tra = s.Current();
    if (!c.tra) {
      c.tra = s.Start(ModoTransacao::kLeitura);
      c.owns_tra = true;
    }
    TraceSql(SqlKind::kCursor, source);
    c.source = source;
    c.session = &s;  // so that CloseCursor releases what was made
    s.cursors.push_back(&c);
    FbStatus st;
    try {
      const ComandoEmCurso comando(s, c.source);
      try {
        c.rs = s.att->openCursor(&st, c.tra, static_cast<unsigned>(source.size()), source.data(),
                                 SQL_DIALECT_V6, nullptr, nullptr, nullptr, nullptr, 0);
      } catch (const FbException& e) {
        comando.Fail(e);
      }
      c.meta = c.rs->getMetadata(&st);
      c.buf.assign(c.meta->getMessageLength(&st), 0);
      c.columns = ReadLayout(c.meta);
      c.names.clear();
      for (const ColumnLayout& col : c.columns) c.names.push_back(Upper(col.alias));
    } catch (const FbException& e) {
      CloseCursor(&c);
      s.Fail(e);
    } catch (...) {
      CloseCursor(&c);
      throw;
    }
  }
  if (!c.session) {
    c.session = &s;
    s.cursors.push_back(&c);
  }
  c.open = true;
  if (!c.append) {
    try {
      Fetch(c);
    } catch (...) {
      CloseCursor(&c);
      throw;
    }
  }
}

int RecordSet::State() const { return c_->open ? 1 : 0; }

void RecordSet::Close() {
  if (!c_->open) Raise(err::kObjectClosed);
  CloseCursor(c_.get());
}

bool RecordSet::Eof() const {
  if (!c_->open) Raise(err::kObjectClosed);
  return !c_->has_row;
}

void RecordSet::MoveNext() {
  if (!c_->open) Raise(err::kObjectClosed);
  if (!c_->has_row) Raise(err::kNoCurrentRecord);
  if (c_->memoria) {
    c_->has_row = ++c_->pos < c_->linhas.size();
    return;
  }
  Fetch(*c_);
}

void RecordSet::Materializa() {
  FbCursor& c = *c_;
  if (!c.open) Raise(err::kObjectClosed);
  if (c.memoria) return;
  std::vector<std::vector<Value>> linhas;
  for (; c.has_row; Fetch(c)) {
    std::vector<Value>& linha = linhas.emplace_back();
    for (int i = 0; i < FieldCount(); ++i) linha.push_back(FieldAt(i));
  }
  std::vector<std::string> nomes = c.names;
  const std::string source = c.source;
  CloseCursor(&c);
  c.names = std::move(nomes);
  c.source = source;
  c.linhas = std::move(linhas);
  c.memoria = true;
  c.open = true;
  c.pos = 0;
  c.has_row = !c.linhas.empty();
}

std::optional<Value> RecordSet::Adiante(std::string_view name, size_t passos) const {
  const FbCursor& c = *c_;
  if (!c.memoria || c.pos + passos >= c.linhas.size()) return std::nullopt;
  const auto it = std::find_if(c.names.begin(), c.names.end(),
                               [&](const std::string& upper) { return SameName(upper, name); });
  if (it == c.names.end()) Raise(err::kItemNotFound);
  return c.linhas[c.pos + passos][static_cast<size_t>(it - c.names.begin())];
}

Value RecordSet::Fields(std::string_view name) const {
  const FbCursor& c = *c_;
  if (!c.open) Raise(err::kObjectClosed);
  const auto it = std::find_if(c.names.begin(), c.names.end(),
                               [&](const std::string& upper) { return SameName(upper, name); });
  if (it == c.names.end()) {
    Raise(err::kItemNotFound,
          "Item cannot be found in the collection corresponding to the "
          "requested name or ordinal: " +
              std::string(name));
  }
  return FieldAt(static_cast<int>(it - c.names.begin()));
}

int RecordSet::FieldCount() const {
  if (!c_->open) Raise(err::kObjectClosed);
  return static_cast<int>(c_->names.size());
}

Value RecordSet::FieldAt(int index) const {
  const FbCursor& c = *c_;
  if (!c.open) Raise(err::kObjectClosed);
  if (index < 0 || index >= static_cast<int>(c.names.size())) Raise(err::kItemNotFound);
  if (!c.has_row) Raise(err::kNoCurrentRecord);
  if (c.memoria) return c.linhas[c.pos][static_cast<size_t>(index)];
  try {
    return DecodeColumn(c.columns[static_cast<size_t>(index)], c.buf.data());
  } catch (const FbException& e) {
    c.session->Fail(e);
  }
}

void RecordSet::AddNew() {
  if (!c_->open || !c_->append) Raise(3251, "Current Recordset does not support updating.");
  if (c_->session && c_->session->gravacao) throw ForaDoBloco{};
  c_->pending.clear();
}

void RecordSet::SetField(std::string_view name, const Value& v) {
  if (!c_->open || !c_->append) Raise(3251, "Current Recordset does not support updating.");
  c_->pending.emplace_back(std::string(name), v);
}

void RecordSet::Update() {
  FbCursor& c = *c_;
  if (!c.open || !c.append) Raise(3251, "Current Recordset does not support updating.");
  FbSession& s = *c.session;
  std::string cols, marks;
  for (const auto& [name, v] : c.pending) {
    cols += (cols.empty() ? "" : ",") + name;
    marks += marks.empty() ? "?" : ",?";
  }
  const std::string sql = "INSERT INTO " + c.table + " (" + cols + ") VALUES (" + marks + ")";
  TraceSql(SqlKind::kInsert, sql);
  ITransaction* tra = s.Current();
  const bool own_short = tra == nullptr;
  const ComandoEmCurso comando(s, sql);
  if (own_short) tra = s.Start(ModoTransacao::kEscrita);
  FbStatus st;
  IStatement* stmt = nullptr;
  IMessageMetadata* in = nullptr;
  auto cleanup = [&] {
    if (in) in->release();
    in = nullptr;
    ReleaseQuietly(stmt);
    if (own_short && s.perdida) ReleaseQuietly(tra);
    if (own_short && tra) {
      FbStatus st2;
      try {
        tra->rollback(&st2);
        tra = nullptr;
      } catch (const FbException&) {
        ReleaseQuietly(tra);
      }
    }
  };
  try {
    stmt =
        s.att->prepare(&st, tra, static_cast<unsigned>(sql.size()), sql.data(), SQL_DIALECT_V6, 0);
    in = stmt->getInputMetadata(&st);
    std::vector<unsigned char> msg(in->getMessageLength(&st), 0);
    for (unsigned i = 0; i < c.pending.size(); ++i) EncodeParam(in, i, c.pending[i].second, msg);
    stmt->execute(&st, tra, in, msg.data(), nullptr, nullptr);
    in->release();
    in = nullptr;
    stmt->free(&st);
    stmt = nullptr;
    if (own_short) {
      tra->commit(&st);
      tra = nullptr;
    }
  } catch (const FbException& e) {
    cleanup();
    comando.Fail(e);
  } catch (...) {
    cleanup();
    throw;
  }
  c.pending.clear();
}

void FechaRs(RecordSet& rs) {
  if (rs.State() == 1) rs.Close();
}

}  // namespace kz

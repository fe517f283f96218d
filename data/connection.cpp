#include "data/connection.h"

#include <ibase.h>

#include <algorithm>
#include <cctype>

#include "data/connection_text.h"
#include "data/fb_session.h"
#include "data/record_set.h"
#include "data/sql_trace.h"

using namespace Firebird;

namespace kz {

FbApi& FbApi::Get() {
  static FbApi api = [] {
    FbApi a{};
    a.master = fb_get_master_interface();
    a.util = a.master->getUtilInterface();
    a.dispatcher = a.master->getDispatcher();
    return a;
  }();
  return api;
}

RuntimeError ToRuntimeError(const FbException& e, const std::string& secret) {
  char text[2048];
  FbApi::Get().util->formatStatus(text, sizeof text, e.getStatus());
  std::string description(text);
  if (!secret.empty()) {
    for (size_t at = description.find(secret); at != std::string::npos;
         at = description.find(secret, at + 3)) {
      description.replace(at, secret.size(), "***");
    }
  }
  const auto code = static_cast<int32_t>(isc_sqlcode(e.getStatus()->getErrors()));
  return RuntimeError(code, description);
}

void FbSession::Fail(const FbException& e) const { throw ToRuntimeError(e, password); }

ITransaction* FbSession::Current() const {
  if (!own.empty()) return own.back();
  return run_tra;
}

ITransaction* FbSession::Start(bool read_only) {
  const auto& tpb = read_only ? tpb_read : tpb_write;
  FbStatus st;
  try {
    return att->startTransaction(&st, static_cast<unsigned>(tpb.size()), tpb.data());
  } catch (const FbException& e) {
    Fail(e);
  }
}

std::vector<unsigned char> RunTransactionTpb(bool read_only) {
  FbStatus st;
  IXpbBuilder* b = FbApi::Get().util->getXpbBuilder(&st, IXpbBuilder::TPB, nullptr, 0);
  b->insertTag(&st, read_only ? isc_tpb_read : isc_tpb_write);
  b->insertTag(&st, isc_tpb_read_committed);
  b->insertTag(&st, isc_tpb_rec_version);
  b->insertTag(&st, isc_tpb_wait);
  const unsigned char* p = b->getBuffer(&st);
  std::vector<unsigned char> out(p, p + b->getBufferLength(&st));
  b->dispose();
  return out;
}

namespace {

// A location without "host:" (or "host/port:") opens the embedded engine. A
// one-letter prefix is a drive letter, not a host.
bool IsEmbedded(const std::string& location) {
  if (location.empty() || location[0] == '/' || location[0] == '.') return true;
  const auto colon = location.find(':');
  if (colon == std::string::npos) return true;
  return colon == 1 && std::isalpha(static_cast<unsigned char>(location[0]));
}

void Rollback(ITransaction*& tra) {
  if (!tra) return;
  FbStatus st;
  try {
    tra->rollback(&st);
    tra = nullptr;
  } catch (const FbException&) {
    ReleaseQuietly(tra);
  }
}

}  // namespace

Connection::Connection() = default;

Connection::~Connection() {
  try {
    Close();
  } catch (...) {
  }
}

FbSession& Connection::Session() {
  if (!s_ || !s_->att) Raise(err::kObjectClosed);
  return *s_;
}

void Connection::Open(const std::string& connection_text) {
  if (s_ && s_->att) Raise(3705, "Operation is not allowed when the object is open.");
  const ConnectionTarget target = ParseConnectionText(connection_text);
  auto session = std::make_unique<FbSession>();
  session->password = target.password;
  FbApi& api = FbApi::Get();
  FbStatus st;
  IXpbBuilder* dpb = nullptr;
  try {
    session->tpb_write = RunTransactionTpb(false);
    session->tpb_read = RunTransactionTpb(true);
    dpb = api.util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, target.user.c_str());
    dpb->insertString(&st, isc_dpb_password, target.password.c_str());
    dpb->insertString(&st, isc_dpb_lc_ctype, target.charset.c_str());
    // A plain path must not fall back silently to a server over TCP.
    if (IsEmbedded(target.location)) dpb->insertString(&st, isc_dpb_config, "Providers=Engine12");
    session->att = api.dispatcher->attachDatabase(&st, target.location.c_str(),
                                                  dpb->getBufferLength(&st), dpb->getBuffer(&st));
    dpb->dispose();
  } catch (const FbException& e) {
    if (dpb) dpb->dispose();
    session->Fail(e);
  }
  s_ = std::move(session);
}

int Connection::State() const { return s_ && s_->att ? 1 : 0; }

void FbSession::CloseCursorsOf(ITransaction* tra) {
  const auto copy = cursors;
  for (FbCursor* c : copy) {
    if (tra == nullptr || CursorTransaction(c) == tra) CloseCursor(c);
  }
}

void FbSession::CloseAllCursors() { CloseCursorsOf(nullptr); }

void Connection::Close() {
  if (!s_) return;
  FbSession& s = *s_;
  s.CloseAllCursors();
  while (!s.own.empty()) {
    Rollback(s.own.back());
    s.own.pop_back();
  }
  Rollback(s.run_tra);
  if (s.att) {
    FbStatus st;
    try {
      s.att->detach(&st);
      s.att = nullptr;
    } catch (const FbException&) {
      ReleaseQuietly(s.att);
    }
  }
  s_.reset();
}

void Connection::Execute(const std::string& sql) {
  FbSession& s = Session();
  TraceSql(SqlKind::kCommand, sql);
  ITransaction* tra = s.Current();
  const bool own_short = tra == nullptr;
  if (own_short) tra = s.Start(false);
  FbStatus st;
  try {
    s.att->execute(&st, tra, 0, sql.c_str(), SQL_DIALECT_V6, nullptr, nullptr, nullptr, nullptr);
    if (own_short) tra->commit(&st);
  } catch (const FbException& e) {
    if (own_short) Rollback(tra);
    s.Fail(e);
  }
}

void Connection::Execute(const std::string& sql, int64_t& records_affected) {
  FbSession& s = Session();
  TraceSql(SqlKind::kCount, sql);
  ITransaction* tra = s.Current();
  const bool own_short = tra == nullptr;
  if (own_short) tra = s.Start(false);
  FbStatus st;
  IStatement* stmt = nullptr;
  try {
    stmt = s.att->prepare(&st, tra, 0, sql.c_str(), SQL_DIALECT_V6, 0);
    stmt->execute(&st, tra, nullptr, nullptr, nullptr, nullptr);
    records_affected = static_cast<int64_t>(stmt->getAffectedRecords(&st));
    stmt->free(&st);
    stmt = nullptr;
    if (own_short) tra->commit(&st);
  } catch (const FbException& e) {
    ReleaseQuietly(stmt);
    if (own_short) Rollback(tra);
    s.Fail(e);
  }
}

void Connection::BeginTrans() {
  FbSession& s = Session();
  if (s.run_tra) Raise(3251, "Transaction already open on the connection.");
  s.run_tra = s.Start(false);
}

void Connection::CommitTrans() {
  FbSession& s = Session();
  if (!s.run_tra) Raise(3251, "No transaction is open on the connection.");
  s.CloseCursorsOf(s.run_tra);
  FbStatus st;
  try {
    s.run_tra->commit(&st);
    s.run_tra = nullptr;
  } catch (const FbException& e) {
    s.Fail(e);
  }
}

void Connection::RollbackTrans() {
  FbSession& s = Session();
  if (!s.run_tra) Raise(3251, "No transaction is open on the connection.");
  s.CloseCursorsOf(s.run_tra);
  FbStatus st;
  try {
    s.run_tra->rollback(&st);
    s.run_tra = nullptr;
  } catch (const FbException& e) {
    ReleaseQuietly(s.run_tra);
    s.Fail(e);
  }
}

bool Connection::InTransaction() const { return s_ && s_->run_tra; }

Connection::OwnTransaction::OwnTransaction(Connection& c) : c_(c) {
  FbSession& s = c.Session();
  s.own.push_back(s.Start(false));
}

Connection::OwnTransaction::~OwnTransaction() {
  if (done_ || !c_.s_) return;
  FbSession& s = *c_.s_;
  if (s.own.empty()) return;
  s.CloseCursorsOf(s.own.back());
  Rollback(s.own.back());
  s.own.pop_back();
}

void Connection::OwnTransaction::Commit() {
  FbSession& s = c_.Session();
  ITransaction* tra = s.own.back();
  s.CloseCursorsOf(tra);
  FbStatus st;
  try {
    tra->commit(&st);
  } catch (const FbException& e) {
    s.Fail(e);  // the destructor rolls it back
  }
  s.own.pop_back();
  done_ = true;
}

}  // namespace kz

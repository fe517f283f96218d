#include "data/connection.h"

#include <ibase.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/caracteres.h"
#include "data/connection_text.h"
#include "data/familia_sql.h"
#include "data/fb_session.h"
#include "data/record_set.h"
#include "data/sql_trace.h"
#include "data/texto_do_status.h"
#include "data/vigia.h"

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

namespace {

bool IsNetworkLoss(intptr_t code) {
  switch (code) {
    case isc_network_error:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_lost_db_connection:
    case isc_conn_lost:
    case isc_att_shutdown:
    case isc_net_server_shutdown:
    case isc_shutdown:
      return true;
  }
  return false;
}

}  // namespace

bool Tem(const intptr_t* erros, intptr_t codigo) {
  for (size_t i = 0; erros[i] != isc_arg_end; i += erros[i] == isc_arg_cstring ? 3 : 2) {
    if (erros[i] == isc_arg_gds && erros[i + 1] == codigo) return true;
  }
  return false;
}

RuntimeError ToRuntimeError(const FbException& e, const std::string& secret, std::string_view sql,
                            int lock_timeout_s, std::chrono::steady_clock::duration waited) {
  std::string description = TextoDoStatus(e.getStatus()->getErrors(), secret);
  const intptr_t* v = e.getStatus()->getErrors();
  const auto code = static_cast<int32_t>(isc_sqlcode(v));

  // The kind is read from the error codes, never from the text: a trigger's
  // exception may say "deadlock" and is no lock conflict.
  ErrorKind kind = ErrorKind::kOther;
  int64_t holder = 0;
  bool timeout = false;
  for (size_t i = 0; v[i] != isc_arg_end; i += 2) {
    if (v[i] == isc_arg_cstring) {
      ++i;  // length, then the text
      continue;
    }
    if (v[i] != isc_arg_gds) continue;
    const intptr_t gds = v[i + 1];
    // The holder comes as a number or as its decimal text.
    if (gds == isc_concurrent_transaction && v[i + 2] == isc_arg_number) holder = v[i + 3];
    if (gds == isc_concurrent_transaction && v[i + 2] == isc_arg_string) {
      holder = std::strtoll(reinterpret_cast<const char*>(v[i + 3]), nullptr, 10);
    }
    if (kind != ErrorKind::kOther) continue;
    if (gds == isc_deadlock || gds == isc_update_conflict || gds == isc_lock_conflict) {
      kind = ErrorKind::kLockConflict;
    } else if (gds == isc_lock_timeout) {
      kind = ErrorKind::kLockConflict;
      timeout = true;
    } else if (gds == isc_unique_key_violation) {
      kind = ErrorKind::kUniqueKey;
    } else if (gds == isc_cancelled) {
      kind = ErrorKind::kCancelled;
    } else if (IsNetworkLoss(gds)) {
      kind = ErrorKind::kConnectionLost;
    }
  }
  std::string family = sql.empty() ? std::string() : FamiliaSql(sql);
  // The server reports a lock timeout as a plain conflict: a conflict that
  // waited about the whole timeout is taken as one (the server counts it in
  // whole seconds, so the first may come up to a second early). A conflict
  // after a shorter wait (the holder committed) is run again as usual.
  const auto quase = std::max(std::chrono::milliseconds(lock_timeout_s * 1000 - 1000),
                              std::chrono::milliseconds(lock_timeout_s * 500));
  if (kind == ErrorKind::kLockConflict && lock_timeout_s > 0 && (timeout || waited >= quase)) {
    kind = ErrorKind::kLockTimeout;
    description =
        "tempo de espera por bloqueio esgotado (KZ_LOCK_TIMEOUT=" + std::to_string(lock_timeout_s) +
        " s) em " + family + "\n-" + description;
  }
  return RuntimeError(code, description, kind, holder, std::move(family));
}

void FbSession::Fail(const FbException& e) const { Fail(ToRuntimeError(e, password)); }

void FbSession::Fail(RuntimeError e) const {
  if (e.Kind() == ErrorKind::kConnectionLost && !perdida) {
    perdida = true;
    FbStatus st;
    try {
      att->cancelOperation(&st, fb_cancel_abort);
    } catch (const FbException&) {
      // Already closed.
    }
  }
  throw e;
}

void FbSession::ExigeViva() const {
  if (perdida) {
    throw RuntimeError(-902, "a conexao com o banco de dados foi perdida",
                       ErrorKind::kConnectionLost);
  }
}

ComandoEmCurso::ComandoEmCurso(const FbSession& s, std::string_view sql)
    : s_(s), sql_(sql), inicio_(std::chrono::steady_clock::now()) {
  s.ExigeViva();
  vigia::ComandoInicia(s.att, sql);
}

ComandoEmCurso::~ComandoEmCurso() { vigia::ComandoTermina(); }

void ComandoEmCurso::Fail(const FbException& e) const {
  RuntimeError erro = ToRuntimeError(e, s_.password, sql_, s_.opcoes.lock_timeout_s,
                                     std::chrono::steady_clock::now() - inicio_);
  if (erro.Kind() == ErrorKind::kCancelled && vigia::ParadaPedida()) {
    throw Interrompido{vigia::Sinal()};
  }
  // A text of the database that the connection's character set cannot hold
  // (or the other way round): say where, and what to set.
  if (Tem(e.getStatus()->getErrors(), isc_transliteration_failed)) {
    erro = RuntimeError(erro.Number(),
                        erro.Statement() +
                            ": um texto nao pode ser convertido entre o conjunto "
                            "de caracteres do banco e o da conexao (" +
                            s_.charset + "; CHARSET= na linha 2 de default.txt o escolhe)\n-" +
                            erro.Description(),
                        erro.Kind(), erro.Holder(), erro.Statement());
  }
  s_.Fail(std::move(erro));
}

ITransaction* FbSession::Current() const {
  if (!own.empty()) return own.back();
  return run_tra;
}

ITransaction* FbSession::Start(ModoTransacao modo) {
  ExigeViva();
  const std::vector<unsigned char>& tpb = tpbs[static_cast<size_t>(modo)];
  FbStatus st;
  try {
    return att->startTransaction(&st, static_cast<unsigned>(tpb.size()), tpb.data());
  } catch (const FbException& e) {
    Fail(e);
  }
}

std::vector<unsigned char> RunTransactionTpb(ModoTransacao modo, int lock_timeout_s) {
  FbStatus st;
  IXpbBuilder* b = FbApi::Get().util->getXpbBuilder(&st, IXpbBuilder::TPB, nullptr, 0);
  b->insertTag(&st, modo == ModoTransacao::kEscrita ? isc_tpb_write : isc_tpb_read);
  b->insertTag(&st, isc_tpb_read_committed);
  b->insertTag(&st, isc_tpb_rec_version);
  b->insertTag(&st, isc_tpb_wait);
  if (lock_timeout_s > 0) b->insertInt(&st, isc_tpb_lock_timeout, lock_timeout_s);
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

// The character set of a connection whose database has no other default: the
// one the host application's texts were always written in.
constexpr const char* kCharsetPadrao = "WIN1252";

std::string Maiusculas(std::string texto) {
  for (char& ch : texto) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return texto;
}

// Character sets whose texts are UTF-8.
bool Utf8(const std::string& charset) {
  return charset == "UTF8" || charset == "UTF-8" || charset == "UTF_8" || charset == "UNICODE_FSS";
}

// The connection item that sets how the server delivers data types
// (isc_dpb_set_bind of Firebird 4's headers).
constexpr unsigned char kDpbSetBind = 93;

// The embedded engine of this client library: Engine12 up to Firebird 3,
// Engine13 from Firebird 4 on.
const char* EngineProvider() {
  const unsigned major = FbApi::Get().util->getClientVersion() >> 8;
  return major >= 4 ? "Providers=Engine13" : "Providers=Engine12";
}

// Rolls back and lets go of `tra`; on a lost line it only lets go.
void Rollback(const FbSession& s, ITransaction*& tra) {
  if (!tra) return;
  if (s.perdida) {
    ReleaseQuietly(tra);
    return;
  }
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

void Connection::Open(const std::string& connection_text, const OpcoesConexao& opcoes) {
  if (s_ && s_->att) Raise(3705, "Operation is not allowed when the object is open.");
  ConnectionTarget target = ParseConnectionText(connection_text);
  if (opcoes.login) {
    target.user = opcoes.login->usuario;
    target.password = opcoes.login->senha;
  }
  if (!opcoes.role.empty()) target.role = opcoes.role;
  if (!opcoes.charset.empty()) target.charset = opcoes.charset;
  const bool nomeado = !target.charset.empty();
  if (!nomeado) target.charset = kCharsetPadrao;
  auto session = std::make_unique<FbSession>();
  session->password = target.password;
  session->opcoes = opcoes;
  session->charset = Maiusculas(target.charset);
  session->embedded = IsEmbedded(target.location);
  FbApi& api = FbApi::Get();
  FbStatus st;
  IXpbBuilder* dpb = nullptr;
  try {
    for (ModoTransacao modo : {ModoTransacao::kEscrita, ModoTransacao::kLeitura}) {
      session->tpbs[static_cast<size_t>(modo)] = RunTransactionTpb(modo, opcoes.lock_timeout_s);
    }
    dpb = api.util->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, target.user.c_str());
    dpb->insertString(&st, isc_dpb_password, target.password.c_str());
    dpb->insertString(&st, isc_dpb_lc_ctype, target.charset.c_str());
    if (!target.role.empty()) dpb->insertString(&st, isc_dpb_sql_role_name, target.role.c_str());
    // What a database administrator sees in MON$ATTACHMENTS.
    if (!opcoes.processo.empty()) {
      dpb->insertString(&st, isc_dpb_process_name, opcoes.processo.c_str());
      dpb->insertInt(&st, isc_dpb_process_id, static_cast<int>(::getpid()));
    }
    // Servers from Firebird 4 on deliver time stamps with a time zone, 38-digit
    // sums and products (INT128) and DECFLOAT, which a Firebird 3 client
    // cannot describe: they are asked for in their legacy forms (TIMESTAMP
    // in the session's time zone, the server's; BIGINT; DOUBLE). Firebird 3
    // ignores the item.
    dpb->insertString(&st, kDpbSetBind, "time zone to legacy;int128 to legacy;decfloat to legacy");
    // A plain path must not fall back silently to a server over TCP.
    if (session->embedded) dpb->insertString(&st, isc_dpb_config, EngineProvider());
    {
      // A server that accepts the connection but never answers would hold the
      // call for ever: the watcher ends the process past the limit. The limit
      // is not also given to the client library, whose own timer would race
      // the watcher's and end the same wait with another message.
      const vigia::Conectando conectando(opcoes.connect_timeout_s, opcoes.status_sem_conexao,
                                         "sem conexao com o banco de dados em " +
                                             std::to_string(opcoes.connect_timeout_s) + " s" +
                                             opcoes.sem_conexao,
                                         opcoes.status_parada);
      session->att = api.dispatcher->attachDatabase(&st, target.location.c_str(),
                                                    dpb->getBufferLength(&st), dpb->getBuffer(&st));
    }
    dpb->dispose();
  } catch (const FbException& e) {
    if (dpb) dpb->dispose();
    session->Fail(e);
  }
  s_ = std::move(session);
  DefineTextosUtf8(Utf8(s_->charset));
  if (nomeado) return;

  // No character set named: the database's own. Texts of a WIN1252 or NONE
  // database go as they always did, in WIN1252; any other default (UTF8 above
  // all) would lose letters on the way, so the connection is made again in it.
  std::string padrao;
  {
    RecordSet rs;
    rs.Open("SELECT RDB$CHARACTER_SET_NAME FROM RDB$DATABASE", *this);
    if (!rs.FieldAt(0).IsNull()) padrao = Maiusculas(rs.FieldAt(0).ToText());
  }
  padrao.erase(padrao.find_last_not_of(' ') + 1);
  if (padrao.empty() || padrao == "NONE" || padrao == kCharsetPadrao) return;
  Close();
  OpcoesConexao no_padrao = opcoes;
  no_padrao.charset = padrao;
  Open(connection_text, no_padrao);
}

const std::string& Connection::Charset() const {
  static const std::string nenhum;
  return s_ ? s_->charset : nenhum;
}

bool Connection::Embedded() const { return s_ && s_->embedded; }

void Connection::DescartaCancelamento() {
  if (!s_ || !s_->att || s_->perdida) return;
  // Disabling cancels drops a pending request; enabling them again leaves
  // none behind.
  for (int modo : {fb_cancel_disable, fb_cancel_enable}) {
    FbStatus st;
    try {
      s_->att->cancelOperation(&st, modo);
    } catch (const FbException&) {
    }
  }
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
  s.LiberaBlocos();
  while (!s.own.empty()) {
    Rollback(s, s.own.back());
    s.own.pop_back();
  }
  Rollback(s, s.run_tra);
  vigia::Esquece(s.att);
  if (s.perdida) ReleaseQuietly(s.att);
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

Connection::Grava::Grava(Connection& c, const Antecipado* leituras) : c_(c) {
  g_.leituras = leituras;
  c.Session().gravacao = &g_;
}

Connection::Grava::~Grava() {
  if (c_.s_) c_.s_->gravacao = nullptr;
}

bool Connection::Gravando() const { return s_ && s_->gravacao; }

void Connection::GravaAtualizaSenaoInsere(const std::string& atualizacao,
                                          const std::string& insercao) {
  Session().gravacao->escritas.push_back(
      {Escrita::Tipo::kAtualizaSenaoInsere, atualizacao, insercao});
}

void Connection::GravaExigeLinha(const std::string& sql) {
  Session().gravacao->escritas.push_back({Escrita::Tipo::kExigeLinha, sql, {}});
}

namespace {

void Libera(const FbSession& s, IStatement*& stmt) {
  if (!stmt) return;
  if (s.perdida) {
    ReleaseQuietly(stmt);
    return;
  }
  FbStatus st;
  try {
    stmt->free(&st);
    stmt = nullptr;
  } catch (const FbException&) {
    ReleaseQuietly(stmt);
  }
}

}  // namespace

void FbSession::LiberaBlocos() {
  for (auto& [texto, p] : blocos) Libera(*this, p.stmt);
  blocos.clear();
}

void FbSession::LiberaBloco() {
  auto velho = blocos.begin();
  for (auto it = blocos.begin(); it != blocos.end(); ++it) {
    if (it->second.uso < velho->second.uso) velho = it;
  }
  if (velho == blocos.end()) return;
  Libera(*this, velho->second.stmt);
  blocos.erase(velho);
}

void Connection::Execute(const std::string& sql) {
  FbSession& s = Session();
  if (s.gravacao) {
    s.gravacao->escritas.push_back({Escrita::Tipo::kComando, sql, {}});
    return;
  }
  TraceSql(SqlKind::kCommand, sql);
  ITransaction* tra = s.Current();
  const bool own_short = tra == nullptr;
  const ComandoEmCurso comando(s, sql);
  if (own_short) tra = s.Start(ModoTransacao::kEscrita);
  FbStatus st;
  try {
    // With its length: a NUL byte inside a literal is part of the text.
    s.att->execute(&st, tra, static_cast<unsigned>(sql.size()), sql.data(), SQL_DIALECT_V6, nullptr,
                   nullptr, nullptr, nullptr);
    if (own_short) tra->commit(&st);
  } catch (const FbException& e) {
    if (own_short) Rollback(s, tra);
    comando.Fail(e);
  }
}

void Connection::Execute(const std::string& sql, int64_t& records_affected) {
  FbSession& s = Session();
  if (s.gravacao) throw ForaDoBloco{};
  TraceSql(SqlKind::kCount, sql);
  ITransaction* tra = s.Current();
  const bool own_short = tra == nullptr;
  const ComandoEmCurso comando(s, sql);
  if (own_short) tra = s.Start(ModoTransacao::kEscrita);
  FbStatus st;
  IStatement* stmt = nullptr;
  try {
    stmt =
        s.att->prepare(&st, tra, static_cast<unsigned>(sql.size()), sql.data(), SQL_DIALECT_V6, 0);
    stmt->execute(&st, tra, nullptr, nullptr, nullptr, nullptr);
    records_affected = static_cast<int64_t>(stmt->getAffectedRecords(&st));
    stmt->free(&st);
    stmt = nullptr;
    if (own_short) tra->commit(&st);
  } catch (const FbException& e) {
    ReleaseQuietly(stmt);
    if (own_short) Rollback(s, tra);
    comando.Fail(e);
  }
}

void Connection::BeginTrans(ModoTransacao modo) {
  FbSession& s = Session();
  if (s.gravacao) throw ForaDoBloco{};
  if (s.run_tra) Raise(3251, "Transaction already open on the connection.");
  s.run_tra = s.Start(modo);
}

void Connection::CommitTrans() {
  FbSession& s = Session();
  if (!s.run_tra) Raise(3251, "No transaction is open on the connection.");
  s.ExigeViva();
  s.CloseCursorsOf(s.run_tra);
  FbStatus st;
  vigia::ConfirmacaoInicia(s.att, s.opcoes.commit_timeout_s, s.embedded);
  try {
    s.run_tra->commit(&st);
    s.run_tra = nullptr;
    vigia::ConfirmacaoTermina();
  } catch (const FbException& e) {
    vigia::ConfirmacaoTermina();
    RuntimeError erro = ToRuntimeError(e, s.password);
    // An aborted wait (no answer within the commit timeout) ends as a
    // cancelled call or a broken connection: either way the answer is lost.
    // The embedded engine's answer cannot be lost: its error is the commit's.
    if (!s.embedded &&
        (erro.Kind() == ErrorKind::kCancelled || erro.Kind() == ErrorKind::kConnectionLost)) {
      ReleaseQuietly(s.run_tra);
      s.Fail(RuntimeError(erro.Number(), erro.Description(), ErrorKind::kConnectionLost));
    }
    throw erro;
  }
}

void Connection::RollbackTrans() {
  FbSession& s = Session();
  if (!s.run_tra) Raise(3251, "No transaction is open on the connection.");
  s.CloseCursorsOf(s.run_tra);
  if (s.perdida) {
    ReleaseQuietly(s.run_tra);  // the server rolls it back with the attachment
    s.ExigeViva();
  }
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

namespace {

// One number item of an object's info (an attachment's or a transaction's);
// 0 when the answer lacks it.
template <class Objeto>
int64_t InfoNumber(const FbSession& s, Objeto* objeto, unsigned char item) {
  const unsigned char items[] = {item};
  unsigned char buf[32] = {};
  FbStatus st;
  try {
    objeto->getInfo(&st, sizeof items, items, sizeof buf, buf);
  } catch (const FbException& e) {
    s.Fail(e);
  }
  for (const unsigned char* p = buf; p + 3 <= buf + sizeof buf && *p != isc_info_end;) {
    const unsigned char tag = *p++;
    const auto len = static_cast<short>(isc_portable_integer(p, 2));
    p += 2;
    if (tag == item && p + len <= buf + sizeof buf) return isc_portable_integer(p, len);
    p += len;
  }
  return 0;
}

}  // namespace

int64_t Connection::AttachmentId() {
  FbSession& s = Session();
  return InfoNumber(s, s.att, isc_info_attachment_id);
}

bool Connection::SomenteLeitura() {
  FbSession& s = Session();
  return InfoNumber(s, s.att, isc_info_db_read_only) != 0;
}

int64_t Connection::TransactionId() {
  FbSession& s = Session();
  return s.run_tra ? InfoNumber(s, s.run_tra, isc_info_tra_id) : 0;
}

Connection::OwnTransaction::OwnTransaction(Connection& c) : c_(c) {
  FbSession& s = c.Session();
  if (s.gravacao) throw ForaDoBloco{};
  s.own.push_back(s.Start(ModoTransacao::kEscrita));
}

Connection::OwnTransaction::~OwnTransaction() {
  if (done_ || !c_.s_) return;
  FbSession& s = *c_.s_;
  if (s.own.empty()) return;
  s.CloseCursorsOf(s.own.back());
  Rollback(s, s.own.back());
  s.own.pop_back();
}

void Connection::OwnTransaction::Commit() {
  FbSession& s = c_.Session();
  ITransaction* tra = s.own.back();
  s.CloseCursorsOf(tra);
  s.ExigeViva();
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

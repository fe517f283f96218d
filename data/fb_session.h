#pragma once

// Internal to the data layer: the Firebird client objects behind Connection
// and RecordSet.

#include <firebird/Interface.h>

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/runtime_error.h"
#include "data/bloco.h"
#include "data/connection.h"

namespace kz {

struct FbCursor;

// The client library's entry points, shared by every connection.
struct FbApi {
  Firebird::IMaster* master;
  Firebird::IUtil* util;
  Firebird::IProvider* dispatcher;
  static FbApi& Get();
};

// A status for one call sequence; disposes itself.
class FbStatus {
 public:
  FbStatus() : st_(FbApi::Get().master->getStatus()) {}
  ~FbStatus() { st_.dispose(); }
  FbStatus(const FbStatus&) = delete;
  FbStatus& operator=(const FbStatus&) = delete;
  Firebird::ThrowStatusWrapper* operator&() { return &st_; }

 private:
  Firebird::ThrowStatusWrapper st_;
};

// Whether the error codes `erros` hold `codigo`.
bool Tem(const intptr_t* erros, intptr_t codigo);

// Turns a client-library failure into the run-time error: SQLCODE as number,
// the formatted status text as description, with `secret` masked; the kind
// and the holder of a lock read from the status vector. For a statement's
// failure, `sql` gives its family; a lock conflict after a wait of at least
// `lock_timeout_s` (> 0) seconds is the lock timeout running out.
RuntimeError ToRuntimeError(const Firebird::FbException& e, const std::string& secret,
                            std::string_view sql = {}, int lock_timeout_s = 0,
                            std::chrono::steady_clock::duration waited = {});

// The parameters of the transactions the program starts (lock timeout in
// seconds, 0 for none).
std::vector<unsigned char> RunTransactionTpb(ModoTransacao modo, int lock_timeout_s = 0);
// The read-committed parameters of every transaction: read only when asked.
inline std::vector<unsigned char> RunTransactionTpb(bool read_only) {
  return RunTransactionTpb(read_only ? ModoTransacao::kLeitura : ModoTransacao::kEscrita);
}

struct FbSession {
  Firebird::IAttachment* att = nullptr;
  Firebird::ITransaction* run_tra = nullptr;  // BeginTrans .. Commit/Rollback
  std::vector<Firebird::ITransaction*> own;   // Connection::OwnTransaction stack
  std::vector<FbCursor*> cursors;             // open cursors on this attachment
  std::string password;                       // masked out of every error text
  std::string charset;                        // the connection's character set
  bool embedded = false;                      // the embedded engine's attachment
  OpcoesConexao opcoes;
  std::vector<unsigned char> tpbs[2];  // by ModoTransacao
  // The line to the server is gone (a network error, or the attachment was
  // shut down). The client library may then wait for ever for an answer to a
  // new request, so the line is closed on the client's side at once (an
  // abort) and no further request goes out: they fail at once, and closing
  // only lets go of the handles (the server rolls back what was not
  // committed).
  mutable bool perdida = false;
  // While set, statements are recorded instead of sent (data/bloco.h).
  Gravacao* gravacao = nullptr;
  // Blocks prepared on this attachment, by their text, with when each was
  // last used.
  struct Preparado {
    Firebird::IStatement* stmt = nullptr;
    uint64_t uso = 0;
  };
  std::map<std::string, Preparado> blocos;
  uint64_t usos = 0;
  void LiberaBlocos();
  // Lets go of the block used longest ago.
  void LiberaBloco();

  // The transaction statements run in now: the innermost own transaction,
  // else the run's, else none.
  Firebird::ITransaction* Current() const;
  Firebird::ITransaction* Start(ModoTransacao modo);
  // Closes the cursors that read through `tra` (a commit or rollback would
  // kill them).
  void CloseCursorsOf(Firebird::ITransaction* tra);
  void CloseAllCursors();
  [[noreturn]] void Fail(const Firebird::FbException& e) const;
  // Raises `e`, first marking the line lost when it says so.
  [[noreturn]] void Fail(RuntimeError e) const;
  // Raises ErrorKind::kConnectionLost when the line is lost.
  void ExigeViva() const;
};

// One statement's client calls: reported to the run's watcher while they run
// (a pending stop request raises Interrompido here), and their failure turned
// into the run-time error with the statement's family and the time it waited.
class ComandoEmCurso {
 public:
  ComandoEmCurso(const FbSession& s, std::string_view sql);
  ~ComandoEmCurso();
  ComandoEmCurso(const ComandoEmCurso&) = delete;
  ComandoEmCurso& operator=(const ComandoEmCurso&) = delete;
  // Raises the run-time error, or Interrompido when a stop request cancelled
  // the statement.
  [[noreturn]] void Fail(const Firebird::FbException& e) const;

 private:
  const FbSession& s_;
  std::string_view sql_;
  std::chrono::steady_clock::time_point inicio_;
};

// Defined with the record set: the transaction a cursor reads through, and
// closing it (the record set's state becomes closed).
Firebird::ITransaction* CursorTransaction(const FbCursor* c);
void CloseCursor(FbCursor* c);

// Releases a client object after a failure, when its own call could not.
template <class T>
void ReleaseQuietly(T*& obj) {
  if (obj) {
    try {
      obj->release();
    } catch (...) {
    }
    obj = nullptr;
  }
}

}  // namespace kz

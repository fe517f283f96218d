#pragma once

// Internal to the data layer: the Firebird client objects behind Connection
// and RecordSet.

#include <firebird/Interface.h>

#include <string>
#include <vector>

#include "common/runtime_error.h"

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

// Turns a client-library failure into the run-time error: SQLCODE as number,
// the formatted status text as description, with `secret` masked.
RuntimeError ToRuntimeError(const Firebird::FbException& e, const std::string& secret);

// The parameters of every transaction the program starts: read committed,
// record version, wait (read only when asked).
std::vector<unsigned char> RunTransactionTpb(bool read_only);

struct FbSession {
  Firebird::IAttachment* att = nullptr;
  Firebird::ITransaction* run_tra = nullptr;  // BeginTrans .. Commit/Rollback
  std::vector<Firebird::ITransaction*> own;   // Connection::OwnTransaction stack
  std::vector<FbCursor*> cursors;             // open cursors on this attachment
  std::string password;                       // masked out of every error text
  std::vector<unsigned char> tpb_write;       // read committed, rec version, wait
  std::vector<unsigned char> tpb_read;        // the same, read only

  // The transaction statements run in now: the innermost own transaction,
  // else the run's, else none.
  Firebird::ITransaction* Current() const;
  Firebird::ITransaction* Start(bool read_only);
  // Closes the cursors that read through `tra` (a commit or rollback would
  // kill them).
  void CloseCursorsOf(Firebird::ITransaction* tra);
  void CloseAllCursors();
  [[noreturn]] void Fail(const Firebird::FbException& e) const;
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

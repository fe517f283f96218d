#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kz {

class RecordSet;
struct FbSession;

// The one database connection of a run, over the Firebird client library.
// Every failure raises RuntimeError with the server's SQLCODE and its
// formatted status text (never the password).
//
// Statements outside BeginTrans run in a short transaction of their own,
// committed at once. Between BeginTrans and CommitTrans/RollbackTrans every
// statement and every record set opened on the connection belong to the one
// transaction (read committed, record version, wait).
class Connection {
 public:
  Connection();
  ~Connection();  // rolls back an open transaction and detaches; never throws
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens from a connection text (items DBNAME/Data Source, UID/User,
  // PWD/Password, CHARSET). A plain path opens the embedded engine;
  // host:path or host/port:path reaches a server.
  void Open(const std::string& connection_text);
  void Close();
  int State() const;  // 0 closed, 1 open

  // Runs a statement as text (execute immediate).
  void Execute(const std::string& sql);
  // Runs a statement and reports the number of rows it changed.
  void Execute(const std::string& sql, int64_t& records_affected);

  void BeginTrans();
  void CommitTrans();  // closes the record sets of the transaction first
  void RollbackTrans();
  bool InTransaction() const;

  // A short transaction of its own on the same attachment: while it lives,
  // statements and record sets of the connection run in it instead of the
  // run's transaction. Commit() commits it; otherwise it is rolled back.
  class OwnTransaction {
   public:
    explicit OwnTransaction(Connection& c);
    ~OwnTransaction();
    OwnTransaction(const OwnTransaction&) = delete;
    OwnTransaction& operator=(const OwnTransaction&) = delete;
    void Commit();

   private:
    Connection& c_;
    bool done_ = false;
  };

  // For the data layer itself.
  FbSession& Session();

 private:
  friend class RecordSet;
  std::unique_ptr<FbSession> s_;
};

}  // namespace kz

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "data/bloco.h"

namespace kz {

class RecordSet;
struct FbSession;

// How a connection waits. Zero means no limit (wait as long as it takes).
struct OpcoesConexao {
  int lock_timeout_s = 0;     // lock timeout of every transaction
  int connect_timeout_s = 0;  // connecting; past it the process ends with `status_sem_conexao`
  int status_sem_conexao = 4;
  int status_parada = 3;     // a stop request while connecting ends the process with it
  std::string sem_conexao;   // added to the message when connecting runs out of time
  int commit_timeout_s = 0;  // waiting for the commit's answer; past it the connection is aborted
  std::string role;          // SQL role; empty: the connection text's ROLE item, if any
  std::string processo;      // the process name MON$ATTACHMENTS shows; empty: the client's default
  // The character set; empty: the connection text's CHARSET item, and when it
  // has none the database's default character set (WIN1252 for a database
  // whose default is NONE or WIN1252).
  std::string charset;
  // The user and password, passed to the client library as they are,
  // whatever characters they hold; unset: the connection text's items.
  struct Login {
    std::string usuario;
    std::string senha;
  };
  std::optional<Login> login;
};

// How a transaction reads.
enum class ModoTransacao {
  kEscrita,  // read committed, record version, wait: the run's
  kLeitura,  // the same, read only
};

// The one database connection of a run, over the Firebird client library.
// Every failure raises RuntimeError with the server's SQLCODE and its
// formatted status text (never the password).
//
// Statements outside BeginTrans run in a short transaction of their own,
// committed at once. Between BeginTrans and CommitTrans/RollbackTrans every
// statement and every record set opened on the connection belong to the one
// transaction (read committed, record version, wait).
//
// Every statement is reported to the run's watcher (data/vigia.h): a pending
// stop request raises Interrompido before a statement starts, and a statement
// cancelled by a stop request raises it too. A lock conflict that lasted the
// whole lock timeout is raised as ErrorKind::kLockTimeout.
class Connection {
 public:
  Connection();
  ~Connection();  // rolls back an open transaction and detaches; never throws
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens from a connection text (items DBNAME/Data Source, UID/User,
  // PWD/Password, CHARSET, ROLE), with what `opcoes` sets in their place. A
  // plain path opens the embedded engine; host:path or host/port:path
  // reaches a server. Texts of a UTF8 connection are UTF-8 (common/caracteres.h).
  void Open(const std::string& connection_text, const OpcoesConexao& opcoes = {});
  void Close();
  int State() const;  // 0 closed, 1 open
  // The character set the connection was opened with.
  const std::string& Charset() const;
  // Whether the attachment is the embedded engine's (no network between).
  bool Embedded() const;
  // Whether the database is read only.
  bool SomenteLeitura();
  // Drops a cancel request that reached the server after the statement it
  // was meant for had ended, so that it cannot cancel the next one.
  void DescartaCancelamento();

  // Runs a statement as text (execute immediate).
  void Execute(const std::string& sql);
  // Runs a statement and reports the number of rows it changed.
  void Execute(const std::string& sql, int64_t& records_affected);

  void BeginTrans(ModoTransacao modo = ModoTransacao::kEscrita);
  // Closes the record sets of the transaction first. When the answer is lost
  // (the network or the server went away, or no answer came within the
  // commit timeout) it raises ErrorKind::kConnectionLost: the transaction may
  // or may not have been committed.
  void CommitTrans();
  void RollbackTrans();
  bool InTransaction() const;

  // The server's numbers of the attachment and of the run's transaction, for
  // the operator (MON$ATTACHMENT_ID, MON$TRANSACTION_ID).
  int64_t AttachmentId();
  int64_t TransactionId();

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

  // While it lives, the connection records: commands are kept instead of
  // sent, and queries are served from `leituras` (data/bloco.h). What it
  // cannot serve throws ForaDoBloco.
  class Grava {
   public:
    Grava(Connection& c, const Antecipado* leituras);
    ~Grava();
    Grava(const Grava&) = delete;
    Grava& operator=(const Grava&) = delete;
    Gravacao& Gravado() { return g_; }

   private:
    Connection& c_;
    Gravacao g_;
  };
  bool Gravando() const;
  // While recording: `atualizacao`, and `insercao` when it changed no row.
  void GravaAtualizaSenaoInsere(const std::string& atualizacao, const std::string& insercao);
  // While recording: the query `sql` must give a first row whose first
  // column holds a whole number.
  void GravaExigeLinha(const std::string& sql);

  // For the data layer itself.
  FbSession& Session();

 private:
  friend class RecordSet;
  std::unique_ptr<FbSession> s_;
};

}  // namespace kz

#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/value.h"

namespace kz {

class Connection;
struct FbCursor;

// Cursor and lock types as callers pass them; only the append mode (dynamic
// cursor with optimistic locking) behaves differently: it opens no cursor and
// serves AddNew/Update.
enum : int {
  adOpenUnspecified = -1,
  adOpenForwardOnly = 0,
  adOpenKeyset = 1,
  adOpenDynamic = 2,
  adLockUnspecified = -1,
  adLockOptimistic = 3,
  adCmdUnspecified = -1,
};

// A forward cursor over a query that streams its rows: memory does not grow
// with the number of rows, and other statements may run on the connection
// while it is open. On a connection that records (data/bloco.h) it stands on
// rows read ahead for its query.
class RecordSet {
 public:
  RecordSet();
  ~RecordSet();  // closes; never throws
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;

  void Open(const std::string& source, Connection& conexao, int cursor_type = adOpenUnspecified,
            int lock_type = adLockUnspecified, int options = adCmdUnspecified);
  int State() const;  // 0 closed, 1 open
  void Close();
  bool Eof() const;
  void MoveNext();
  // The field of the current row, by name without regard to case. No current
  // row raises 3021; an unknown name raises 3265 naming the column.
  Value Fields(std::string_view name) const;
  // The columns by position, from 0.
  int FieldCount() const;
  Value FieldAt(int index) const;

  // Reads the rest of the rows into memory and closes the cursor: the record
  // set then stands on its rows as before, and a row further on can be read
  // (Adiante). The run's transaction may end meanwhile.
  void Materializa();
  // The field `name` of the row `passos` rows after the current one; nullopt
  // past the end. REQUIRES: Materializa.
  std::optional<Value> Adiante(std::string_view name, size_t passos = 1) const;

  // Append mode: AddNew, set fields, Update sends one INSERT with bound
  // parameters into the table of "SELECT * FROM <table>".
  void AddNew();
  void SetField(std::string_view name, const Value& v);
  void Update();

 private:
  friend class Connection;
  std::unique_ptr<FbCursor> c_;
};

// Closes a record set when it is open.
void FechaRs(RecordSet& rs);

}  // namespace kz

#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "data/connection.h"

namespace kz::test {

// A fresh database made from sql/schema.sql in a temporary folder, removed
// with the folder when the object goes (its connection makes it uncopyable).
// Embedded by default; through the test server on 127.0.0.1 (see
// ServerPrefix) when `server` is set.
class TestDb {
 public:
  explicit TestDb(bool server = false);
  ~TestDb();

  const std::filesystem::path& Dir() const { return dir_; }
  // The location the client opens: a path, or ServerPrefix() + path.
  std::string Location() const;
  // The server location through another port of 127.0.0.1 (a Relay's).
  std::string LocationVia(int port) const;
  // A connection text for the batch's data layer.
  std::string ConnText() const;
  const std::string& Password() const { return password_; }

  // A connection of the test's own, opened on first use.
  Connection& Conn();
  // Detaches the test's connection (an embedded file admits one process).
  void Detach();

  void Exec(const std::string& sql);
  void ExecScript(const std::string& script);
  // The first column of the first row as a number; 0 when it is Null or
  // there is no row.
  int64_t Count(const std::string& sql);
  // Every row, each column as its display text ("<null>" for Null).
  std::vector<std::vector<std::string>> Rows(const std::string& sql);

 private:
  bool server_;
  std::filesystem::path dir_;
  std::string password_;
  Connection conn_;
};

// The test server is the one on 127.0.0.1 at port $KZ_TEST_FB_PORT, with the
// SYSDBA password $KZ_TEST_FB_PASSWORD (scripts/fbserver.sh starts such a
// private server); unset, the local system server on 3050 with the password
// of /etc/firebird/3.0/SYSDBA.password.
std::string ServerPassword();
// The test server\'s port on 127.0.0.1.
int ServerPort();
// "127.0.0.1:" or "127.0.0.1/PORT:", the start of a location on that server.
std::string ServerPrefix();
// Whether the test server answers.
bool ServerAvailable();

// A minimal ledger and parameters set-up most tests share: company 1 with
// NOLANCA 100, a chart of accounts 1, 1.1, 1.1.01, 3, 3.1, 3.1.02 and the
// same codes for company 2, and one parameters row.
void SeedBasics(TestDb& db);

}  // namespace kz::test

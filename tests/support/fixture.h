#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "data/connection.h"

namespace kz::test {

// Rows read back from a database, one string each: the columns joined by "|",
// Null as "<null>", numbers with a decimal point, dates as yyyy-mm-dd.
using Rows = std::vector<std::string>;

// The test server: 127.0.0.1 at $KZ_TEST_FB_PORT (3050 when unset) with the
// SYSDBA password $KZ_TEST_FB_PASSWORD ("masterkey" when unset);
// scripts/fbserver.sh starts such a private server.
int ServerPort();
std::string ServerPassword();
std::string ServerPrefix();  // "127.0.0.1:" or "127.0.0.1/PORT:"

std::string ReadFile(const std::string& path);
// The SQL literal of a text, quotes doubled.
std::string Lit(const std::string& text);

// A fresh database made from sql/schema.sql and a seed script in a
// temporary folder, removed with it. Embedded, or through the test server;
// its default character set `charset` (the scripts' too).
class TestDb {
 public:
  explicit TestDb(bool server = false, const std::string& seed = "",
                  const std::string& charset = "WIN1252");
  ~TestDb();

  const std::filesystem::path& Dir() const { return dir_; }
  std::string Location() const;  // a path, or ServerPrefix() + path
  std::string ConnText() const;
  const std::string& Password() const { return password_; }

  // The test's own connection, opened on first use; Detach closes it (an
  // embedded file admits one process).
  Connection& Conn();
  void Detach();

  // Runs a script through isql (SET TERM honoured), then commits; the
  // test's own attachment is closed first.
  void Exec(const std::string& script);
  // sql/grants.sql, and the login `user` (made on the test server when the
  // database is a server's) holding the role.
  void GrantRole(const std::string& user, const std::string& password);
  Rows Select(const std::string& sql);
  // The first column of the first row; 0 when Null or there is no row.
  int64_t Count(const std::string& sql);

  // Every row of the tables a run changes ("TABLE|v1|v2|..."), sorted,
  // without what differs between two runs that did the same work: the
  // clocks (DATHOR, DATLOG), the generators (SEQLOG, SEQMOV), the host name,
  // the error's text after its number and, without `numbers`, the entry
  // numbers (two runs at once take them in any order).
  Rows Snapshot(bool numbers = true);
  // Accounts whose stored monthly totals differ from the sums of the entries
  // of TB_CTG_CADLAN under them (the totals started at zero).
  Rows Books() { return Totals(true); }
  // The monthly totals that are not zero ("CODEMP|CODCON|column|value"),
  // less the entries under them when `less_entries`; sorted.
  Rows Totals(bool less_entries = false);

 private:
  void Isql(const std::string& script, const std::string& database);
  std::string Login() const;
  bool server_;
  std::string charset_;
  std::filesystem::path dir_;
  std::string password_;
  Connection conn_;
};

// The lines only in `before` ("- ...") and only in `after` ("+ ..."),
// sorted; those starting with `skip` (a table's name) are left out.
Rows Diff(const Rows& before, const Rows& after, const std::string& skip = "");

// The script tests/sql/<name>.sql: "basics" (the chart, parameters and
// payment conditions most tests share, see there), "world" (after basics).
std::string Seed(const std::string& name);
// `count` commitments numbered from `first` of status `mark`, of four kinds
// in turn (see KZ_TESTE_EMPENHOS in tests/sql/basics.sql). After basics.
std::string Mixed(int first, int count, int mark);

struct BatchResult {
  int status = -1;     // exit status; 128 + n when killed by signal n
  std::string err;     // standard error
  std::string out;     // standard output
  std::string report;  // "Resultado do Cancelamento.txt" byte for byte ("" if absent)
};

// How a run is started, beyond its settings files.
struct Partida {
  std::vector<std::pair<std::string, std::string>> env{};
  std::vector<std::string> args{};
  long limite_arquivo = 0;        // RLIMIT_FSIZE in bytes (0: none)
  bool erro_fechado = false;      // standard error a pipe nobody reads
  bool jornal = false;            // JOURNAL_STREAM names standard error, as under systemd
  bool mantem_relatorio = false;  // leave what stands at the report's name
  unsigned uid = 0;               // run as this user (0: as the test)
};

// The built program run in a folder of its own (db.Dir()/folder), which
// holds its settings (KZ_QUBO_DIR): default.txt reaching `db` through the
// short ODBC form, and the run line. Runs of one database at once need
// folders of their own. Starting detaches the test's own attachment.
class BatchRunner {
 public:
  BatchRunner(TestDb& db, const std::string& folder = "run",
              const std::string& line = "25/12/2017|-7|100|180|12");

  // default.txt with the connection text, and the user and password scrambled.
  void WriteDefault(const std::string& connection, const std::string& user,
                    const std::string& password);

  BatchResult Run(const Partida& p = {});  // Start, then Wait with a guard of 5 minutes
  int Start(const Partida& p = {});
  // Waits until the run stops itself at KZ_PAUSA_TESTE; false when it ended first.
  bool WaitPaused(int pid);
  // A run still going after `limit` is killed (SIGKILL).
  BatchResult Wait(int pid, std::chrono::seconds limit = std::chrono::seconds(60));

  const std::filesystem::path& Dir() const { return dir_; }

 private:
  TestDb& db_;
  std::filesystem::path dir_;
};

// The report's header and a commitment's line, with their CR LF.
std::string ReportHeader();
std::string ReportLine(const std::string& code, const std::string& result);

// What the server's monitoring tables show of the batch's attachments (those
// of the built program) on the test's database, read afresh: its statements
// running (a lock wait included) whose text holds `fragment`, and the rows it
// inserted. CutBatch ends its attachments as an administrator would.
int64_t BatchRunning(TestDb& db, const std::string& fragment = "");
int64_t BatchInserts(TestDb& db);
void CutBatch(TestDb& db);

// Asks `done` every 20 ms until it holds; false when `limit` passes first.
bool PollUntil(const std::function<bool()>& done,
               std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace kz::test

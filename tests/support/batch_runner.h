#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_db.h"

namespace kz::test {

struct BatchResult {
  int status = -1;     // exit status; 128 + n when killed by signal n
  std::string err;     // what it wrote on standard error
  std::string out;     // what it wrote on standard output
  std::string report;  // "Resultado do Cancelamento.txt", byte for byte ("" if absent)
  bool hung = false;   // killed by WaitAtMost's guard
};

// How a run is started, beyond its settings files.
struct Partida {
  std::vector<std::pair<std::string, std::string>> env;  // extra environment
  std::vector<std::string> args;
  long limite_arquivo = 0;        // RLIMIT_FSIZE in bytes (0: none); it cuts stderr.txt too
  bool erro_fechado = false;      // standard error is a pipe nobody reads (closed)
  bool jornal = false;            // JOURNAL_STREAM names standard error, as under systemd
  bool mantem_relatorio = false;  // leave what stands at the report's name

  static Partida Com(std::vector<std::pair<std::string, std::string>> env) {
    Partida p;
    p.env = std::move(env);
    return p;
  }
};

// Runs the built executable in a folder of its own with its settings files
// (KZ_QUBO_DIR) written there. The test's own embedded attachment is
// detached first: an embedded file admits one process at a time. Runners of
// the same database that run at once need folders of their own.
class BatchRunner {
 public:
  explicit BatchRunner(TestDb& db, const std::string& folder = "run");

  // default.txt with the connection text, user and password scrambled.
  void WriteDefault(const std::string& connection_line, const std::string& user,
                    const std::string& password);
  // default.txt reaching the test database through the short ODBC form.
  void WriteDefaultFor(const TestDb& db);
  void WriteRunLine(const std::string& line);

  // Start and WaitAtMost with a guard of five minutes.
  BatchResult Run(const Partida& p = {});
  // Starts the batch and returns its pid.
  int Start(const Partida& p = {});
  // Waits until the batch stops itself at its test pause point
  // (KZ_PAUSA_TESTE); false when it ended or `limit` passed first.
  bool WaitPaused(int pid, std::chrono::seconds limit = std::chrono::seconds(60));
  // Waits for the batch; one still running after `limit` is killed (SIGKILL)
  // and the result says so.
  BatchResult WaitAtMost(int pid, std::chrono::seconds limit);

  const std::filesystem::path& Dir() const { return dir_; }

 private:
  TestDb& db_;
  std::filesystem::path dir_;
};

// The report header line with its CR LF.
std::string ReportHeader();
// A commitment line of the report with its CR LF.
std::string ReportLine(const std::string& code, const std::string& result);

// What another attachment sees of a running batch through the server's
// monitoring tables (MON$), so that a test can act at chosen points of a run.
// The batch's attachments are those whose remote process is the built
// program; the tables show the attachments of the test's own database only.
// Each call reads a fresh picture (a short transaction of its own).

// The batch's statements now running whose text contains `fragment` (every
// running one when it is empty). A statement waiting for a row lock counts as
// running for as long as it waits.
int64_t BatchStatementsRunning(TestDb& db, const std::string& fragment = "");
// The rows the batch's attachments have inserted so far.
int64_t BatchRecordInserts(TestDb& db);
// Ends the batch's attachments from the test's own: the server cuts them as
// an administrator would.
void CutBatchAttachments(TestDb& db);

// Asks `done` every 20 ms until it holds; false when `limit` passes first.
bool PollUntil(const std::function<bool()>& done,
               std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace kz::test

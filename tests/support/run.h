#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/db.h"

namespace kz::test {

struct BatchResult {
  int status = -1;     // exit status; 128 + n when killed by signal n
  std::string err;     // standard error
  std::string out;     // standard output
  std::string report;  // "Resultado do Cancelamento.txt" byte for byte ("" if absent)
  bool hung = false;   // still running when the wait ran out (then killed)
};

// How a run is started, beyond its settings files.
struct Partida {
  std::vector<std::pair<std::string, std::string>> env;
  std::vector<std::string> args;
  long limite_arquivo = 0;        // RLIMIT_FSIZE in bytes (0: none)
  bool erro_fechado = false;      // standard error a pipe nobody reads
  bool jornal = false;            // JOURNAL_STREAM names standard error, as under systemd
  bool mantem_relatorio = false;  // leave what stands at the report's name
  static Partida Com(std::vector<std::pair<std::string, std::string>> env) {
    Partida p;
    p.env = std::move(env);
    return p;
  }
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
  void WriteRunLine(const std::string& line);

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

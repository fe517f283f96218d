#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_db.h"

namespace kz::test {

struct BatchResult {
  int status = -1;     // exit status; 128 + n when killed by signal n
  std::string err;     // what it wrote on standard error
  std::string report;  // "Resultado do Cancelamento.txt", byte for byte ("" if absent)
  bool hung = false;   // killed by WaitAtMost's guard
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
  void RemoveSetting(const std::string& name);

  BatchResult Run();
  // Starts the batch and returns its pid; Wait() collects the result.
  int Start();
  BatchResult Wait(int pid);
  // Wait with a guard against a hang: a batch still running after `limit` is
  // killed (SIGKILL) and the result says so.
  BatchResult WaitAtMost(int pid, std::chrono::seconds limit);

  const std::filesystem::path& Dir() const { return dir_; }

 private:
  BatchResult Result(int wait_status) const;

  TestDb& db_;
  std::filesystem::path dir_;
};

// The report header line with its CR LF.
std::string ReportHeader();
// A commitment line of the report with its CR LF.
std::string ReportLine(const std::string& code, const std::string& result);

}  // namespace kz::test

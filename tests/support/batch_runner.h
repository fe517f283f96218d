#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_db.h"

namespace kz::test {

struct BatchResult {
  int status = -1;     // exit status; 128 + n when killed by signal n
  std::string err;     // what it wrote on standard error
  std::string report;  // "Resultado do Cancelamento.txt", byte for byte ("" if absent)
};

// Runs the built executable in a folder of its own with its settings files
// (KZ_QUBO_DIR) written there. The test's own embedded attachment is
// detached first: an embedded file admits one process at a time.
class BatchRunner {
 public:
  explicit BatchRunner(TestDb& db);

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

  const std::filesystem::path& Dir() const { return dir_; }

 private:
  TestDb& db_;
  std::filesystem::path dir_;
};

// The report header line with its CR LF.
std::string ReportHeader();
// A commitment line of the report with its CR LF.
std::string ReportLine(const std::string& code, const std::string& result);

}  // namespace kz::test

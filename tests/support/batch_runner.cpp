#include "tests/support/batch_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "app/decifra.h"
#include "tests/support/sql_script.h"

namespace kz::test {
namespace {

void WriteText(const std::filesystem::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string ReadIfAny(const std::filesystem::path& p) {
  return std::filesystem::exists(p) ? ReadFile(p.string()) : std::string();
}

}  // namespace

BatchRunner::BatchRunner(TestDb& db, const std::string& folder) : db_(db), dir_(db.Dir() / folder) {
  std::filesystem::create_directories(dir_);
}

void BatchRunner::WriteDefault(const std::string& connection_line, const std::string& user,
                               const std::string& password) {
  WriteText(dir_ / "default.txt", "cancela-empenhos\r\n" + connection_line + "\r\n" + Cifra(user) +
                                      "\r\n" + Cifra(password) + "\r\n");
}

void BatchRunner::WriteDefaultFor(const TestDb& db) {
  WriteDefault("TIPO=2;DBNAME=" + db.Location(), db.User(), db.Password());
}

void BatchRunner::WriteRunLine(const std::string& line) {
  WriteText(dir_ / "Tarvelinko.txt", line + "\r\n");
}

void BatchRunner::RemoveSetting(const std::string& name) { std::filesystem::remove(dir_ / name); }

int BatchRunner::Start() {
  db_.Detach();
  std::filesystem::remove(dir_ / "Resultado do Cancelamento.txt");
  const std::string exe = KZ_BINARY_DIR "/cancela-empenhos";
  const std::string err = (dir_ / "stderr.txt").string();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (::chdir(dir_.c_str()) != 0) ::_exit(127);
    ::setenv("KZ_QUBO_DIR", dir_.c_str(), 1);
    const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(fd, STDERR_FILENO);
    ::close(fd);
    ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

BatchResult BatchRunner::Result(int wait_status) const {
  BatchResult r;
  r.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  r.err = ReadIfAny(dir_ / "stderr.txt");
  r.report = ReadIfAny(dir_ / "Resultado do Cancelamento.txt");
  return r;
}

BatchResult BatchRunner::Wait(int pid) {
  int st = 0;
  ::waitpid(pid, &st, 0);
  return Result(st);
}

BatchResult BatchRunner::WaitAtMost(int pid, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  int st = 0;
  while (::waitpid(pid, &st, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= end) {
      ::kill(pid, SIGKILL);
      BatchResult r = Wait(pid);
      r.hung = true;
      return r;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return Result(st);
}

BatchResult BatchRunner::Run() { return Wait(Start()); }

std::string ReportHeader() { return "Num do Empenho     Resultado\r\n"; }

std::string ReportLine(const std::string& code, const std::string& result) {
  std::string line = code;
  line.resize(19, ' ');
  return line + result + "\r\n";
}

}  // namespace kz::test

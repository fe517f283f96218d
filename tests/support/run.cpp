#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>
#include <thread>

#include "app/decifra.h"
#include "tests/support/fixture.h"

namespace kz::test {
namespace {

constexpr const char* kDoLote = "A.MON$REMOTE_PROCESS CONTAINING 'cancela-empenhos'";

void Redirect(const std::filesystem::path& file, int fd) {
  const int f = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(f, fd);
  ::close(f);
}

}  // namespace

BatchRunner::BatchRunner(TestDb& db, const std::string& folder, const std::string& line)
    : db_(db), dir_(db.Dir() / folder) {
  std::filesystem::create_directories(dir_);
  WriteDefault("TIPO=2;DBNAME=" + db.Location(), "SYSDBA", db.Password());
  std::ofstream(dir_ / "Tarvelinko.txt", std::ios::binary) << line + "\r\n";
}

void BatchRunner::WriteDefault(const std::string& connection, const std::string& user,
                               const std::string& password) {
  std::ofstream(dir_ / "default.txt", std::ios::binary) << "cancela-empenhos\r\n" + connection +
                                                               "\r\n" + Cifra(user) + "\r\n" +
                                                               Cifra(password) + "\r\n";
  // As an installer leaves it: only its owner may read the login.
  std::filesystem::permissions(dir_ / "default.txt", std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_write);
}

int BatchRunner::Start(const Partida& p) {
  db_.Detach();
  if (!p.mantem_relatorio) std::filesystem::remove(dir_ / "Resultado do Cancelamento.txt");
  const std::string exe = KZ_BINARY_DIR "/cancela-empenhos";
  std::vector<const char*> argv{exe.c_str()};
  for (const std::string& a : p.args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid > 0) return pid;
  if (::chdir(dir_.c_str()) != 0) ::_exit(127);
  ::setenv("KZ_QUBO_DIR", dir_.c_str(), 1);
  for (const auto& [name, value] : p.env) ::setenv(name.c_str(), value.c_str(), 1);
  Redirect(dir_ / "stderr.txt", STDERR_FILENO);
  Redirect(dir_ / "stdout.txt", STDOUT_FILENO);
  if (p.jornal) {
    struct stat st {};
    ::fstat(STDERR_FILENO, &st);
    ::setenv("JOURNAL_STREAM",
             (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
  }
  int pipe[2];
  if (p.erro_fechado && ::pipe(pipe) == 0) {
    ::dup2(pipe[1], STDERR_FILENO);
    ::close(pipe[0]);
    ::close(pipe[1]);
  }
  if (p.uid != 0 && (::setgid(p.uid) != 0 || ::setuid(p.uid) != 0)) ::_exit(127);
  if (p.limite_arquivo > 0) {
    const rlimit limite{static_cast<rlim_t>(p.limite_arquivo),
                        static_cast<rlim_t>(p.limite_arquivo)};
    ::setrlimit(RLIMIT_FSIZE, &limite);
  }
  ::execv(exe.c_str(), const_cast<char* const*>(argv.data()));
  ::_exit(127);
}

bool BatchRunner::WaitPaused(int pid) {
  int st = 0;
  PollUntil([&] { return ::waitpid(pid, &st, WNOHANG | WUNTRACED) != 0; });
  return WIFSTOPPED(st);
}

BatchResult BatchRunner::Wait(int pid, std::chrono::seconds limit) {
  int st = 0;
  if (!PollUntil([&] { return ::waitpid(pid, &st, WNOHANG) != 0; }, limit)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &st, 0);
  }
  const auto read = [&](const char* name) {
    return std::filesystem::is_regular_file(dir_ / name) ? ReadFile((dir_ / name).string()) : "";
  };
  return {WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st), read("stderr.txt"),
          read("stdout.txt"), read("Resultado do Cancelamento.txt")};
}

BatchResult BatchRunner::Run(const Partida& p) { return Wait(Start(p), std::chrono::minutes(5)); }

std::string ReportHeader() { return "Num do Empenho     Resultado\r\n"; }

std::string ReportLine(const std::string& code, const std::string& result) {
  return code + std::string(code.size() < 19 ? 19 - code.size() : 0, ' ') + result + "\r\n";
}

int64_t BatchRunning(TestDb& db, const std::string& fragment) {
  return db.Count(
      std::string("SELECT COUNT(*) FROM MON$STATEMENTS S JOIN MON$ATTACHMENTS A ON "
                  "A.MON$ATTACHMENT_ID = S.MON$ATTACHMENT_ID WHERE S.MON$STATE = 1 AND ") +
      kDoLote + (fragment.empty() ? "" : " AND S.MON$SQL_TEXT CONTAINING " + Lit(fragment)));
}

int64_t BatchInserts(TestDb& db) {
  return db.Count(std::string("SELECT SUM(R.MON$RECORD_INSERTS) FROM MON$ATTACHMENTS A JOIN "
                              "MON$RECORD_STATS R ON R.MON$STAT_ID = A.MON$STAT_ID WHERE ") +
                  kDoLote);
}

void CutBatch(TestDb& db) {
  db.Exec(std::string("DELETE FROM MON$ATTACHMENTS A WHERE A.MON$ATTACHMENT_ID <> "
                      "CURRENT_CONNECTION AND ") +
          kDoLote);
}

bool PollUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace kz::test

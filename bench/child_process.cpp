#include "bench/child_process.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace kz::bench {
namespace {

using Clock = std::chrono::steady_clock;

// What a child needs, built before fork: after it only async-signal-safe
// calls are made.
struct Prepared {
  std::vector<std::string> env_text;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::string dir;
  std::string err;
};

void Prepare(const ChildSpec& child, Prepared& p) {
  p.argv.push_back(const_cast<char*>(child.exe.c_str()));
  for (const std::string& a : child.args) p.argv.push_back(const_cast<char*>(a.c_str()));
  p.argv.push_back(nullptr);
  for (char** e = environ; *e; ++e) {
    const std::string item(*e);
    bool replaced = false;
    for (const auto& [name, value] : child.env) replaced |= item.rfind(name + "=", 0) == 0;
    if (!replaced) p.env_text.push_back(item);
  }
  for (const auto& [name, value] : child.env) p.env_text.push_back(name + "=" + value);
  for (std::string& e : p.env_text) p.envp.push_back(e.data());
  p.envp.push_back(nullptr);
  p.dir = child.cwd.string();
  p.err = child.stderr_file.string();
}

}  // namespace

std::vector<ChildRun> RunChildren(const std::vector<ChildSpec>& specs) {
  std::vector<Prepared> prepared(specs.size());
  for (size_t i = 0; i < specs.size(); ++i) Prepare(specs[i], prepared[i]);

  std::vector<pid_t> pids;
  std::vector<Clock::time_point> starts;
  for (size_t i = 0; i < specs.size(); ++i) {
    const Prepared& p = prepared[i];
    starts.push_back(Clock::now());
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      if (::chdir(p.dir.c_str()) != 0) ::_exit(127);
      const int fd = ::open(p.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd >= 0) {
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
      }
      ::execve(specs[i].exe.c_str(), p.argv.data(), p.envp.data());
      ::_exit(127);
    }
    pids.push_back(pid);
  }

  std::vector<ChildRun> runs(specs.size());
  for (size_t left = specs.size(); left > 0;) {
    int st = 0;
    rusage usage{};
    const pid_t pid = ::wait4(-1, &st, 0, &usage);
    if (pid < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("wait4 failed");
    }
    const auto end = Clock::now();
    for (size_t i = 0; i < pids.size(); ++i) {
      if (pids[i] != pid) continue;
      ChildRun& r = runs[i];
      r.seconds = std::chrono::duration<double>(end - starts[i]).count();
      r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
      r.cpu_seconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                      (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
      r.peak_kib = usage.ru_maxrss;
      --left;
    }
  }
  return runs;
}

}  // namespace kz::bench

#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace kz::bench {

// A program to run: in `cwd`, with `env` added to this process's environment
// and standard error sent to `stderr_file`.
struct ChildSpec {
  std::string exe;
  std::vector<std::string> args;
  std::filesystem::path cwd;
  std::vector<std::pair<std::string, std::string>> env;
  std::filesystem::path stderr_file;
};

struct ChildRun {
  int status = -1;         // exit status; 128 + n when killed by signal n
  double seconds = 0;      // wall time from just before its fork to its end
  double cpu_seconds = 0;  // its user and system time
  long peak_kib = 0;       // its peak resident memory (ru_maxrss)
};

// Starts every program at once and waits for all of them; each one's wall
// time ends when it ends.
std::vector<ChildRun> RunChildren(const std::vector<ChildSpec>& specs);

inline ChildRun RunChild(const ChildSpec& child) { return RunChildren({child}).front(); }

}  // namespace kz::bench

// kz-cifra: scrambles texts the way default.txt holds the database user name
// and password (lines 3 and 4), so that an installer can write them.
//
//   kz-cifra             prints the scrambled form of each line of standard
//                        input; on a terminal it asks on standard error and
//                        does not echo what is typed (the way for passwords:
//                        an argument shows in the process list)
//   kz-cifra TEXT...     prints the scrambled form of each argument
//
// One output line per text, ended by LF (the settings reader takes LF and
// CR LF alike). Input lines may end in LF or CR LF. Exit status 0 when every
// text was written, 1 when one could not be (longer than 257 bytes, or its
// scrambled form would hold a CR or LF and so could not be read back as one
// line); the others are still written.

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <string_view>

#include "app/core_dumps.h"
#include "app/decifra.h"
#include "common/runtime_error.h"

namespace {

bool WriteScrambled(std::string_view texto) {
  std::string scrambled;
  try {
    scrambled = kz::Cifra(texto);
  } catch (const kz::RuntimeError& e) {
    std::cerr << "kz-cifra: " << e.Description() << "\n";
    return false;
  }
  if (scrambled.find_first_of("\r\n") != std::string::npos) {
    std::cerr << "kz-cifra: the scrambled form of a text of " << texto.size()
              << " bytes holds a line end and cannot be stored as one line\n";
    return false;
  }
  std::cout << scrambled << "\n";
  return true;
}

// The terminal's settings while echo is off, restored on every way out.
termios saved_terminal;
volatile sig_atomic_t echo_off = 0;

void RestoreEcho() {
  if (echo_off) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_terminal);
  echo_off = 0;
}

void RestoreEchoAndDie(int sig) {
  RestoreEcho();
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

// Turns echo off on the terminal of standard input (the line editing stays).
void EchoOff() {
  if (::tcgetattr(STDIN_FILENO, &saved_terminal) != 0) return;
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) ::signal(sig, RestoreEchoAndDie);
  termios quiet = saved_terminal;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL);
  if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0) echo_off = 1;
}

}  // namespace

int main(int argc, char** argv) {
  kz::DisableCoreDumps();
  bool ok = true;
  if (argc > 1) {
    for (int a = 1; a < argc; ++a) ok = WriteScrambled(argv[a]) && ok;
  } else {
    const bool terminal = ::isatty(STDIN_FILENO);
    if (terminal) EchoOff();
    const auto prompt = [&] {
      if (terminal)
        std::cerr << "kz-cifra: text to scramble (not shown; Ctrl-D ends): " << std::flush;
    };
    std::string line;
    for (prompt(); std::getline(std::cin, line); prompt()) {
      if (terminal) std::cerr << "\n";
      if (!line.empty() && line.back() == '\r') line.pop_back();
      ok = WriteScrambled(line) && ok;
      std::cout.flush();
    }
    if (terminal) std::cerr << "\n";
    RestoreEcho();
  }
  std::cout.flush();
  return ok && std::cout ? 0 : 1;
}

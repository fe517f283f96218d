#include "common/mensagem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kz {
namespace {

// JOURNAL_STREAM is "<device>:<inode>" of the stream systemd connected to
// the journal; it counts only while standard error is still that stream.
bool NoJornal() {
  static const bool jornal = [] {
    const char* v = std::getenv("JOURNAL_STREAM");
    if (!v || !*v) return false;
    unsigned long long dev = 0, ino = 0;
    if (std::sscanf(v, "%llu:%llu", &dev, &ino) != 2) return false;
    struct stat st {};
    if (::fstat(STDERR_FILENO, &st) != 0) return false;
    return st.st_dev == dev && st.st_ino == ino;
  }();
  return jornal;
}

}  // namespace

void EscreveErroPadrao(std::string_view texto) {
  while (!texto.empty()) {
    const ssize_t n = ::write(STDERR_FILENO, texto.data(), texto.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // closed or full: an operator line is never worth failing for
    texto.remove_prefix(static_cast<size_t>(n));
  }
}

void Mensagem(Prioridade prioridade, std::string_view texto) {
  std::string linha;
  if (NoJornal()) linha = "<" + std::to_string(static_cast<int>(prioridade)) + ">";
  linha += "Cancelamento de Empenhos: ";
  linha += texto;
  linha += '\n';
  EscreveErroPadrao(linha);
}

}  // namespace kz

#include "batch/relatorio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/runtime_error.h"

namespace kz {
namespace {

constexpr size_t kColunaResultado = 20;
constexpr mode_t kModo = 0640;

std::string AteColuna(std::string texto) {
  if (texto.size() < kColunaResultado - 1) texto.resize(kColunaResultado - 1, ' ');
  return texto;
}

// A new regular file at the name: whatever stands there is removed (a link
// itself, never its target), then the file is created exclusively, which
// fails rather than follow a link or open anything that is already there.
// Another process that puts something back in between only costs a retry.
int CriaNovo(const char* nome) {
  for (int tentativa = 0; tentativa < 5; ++tentativa) {
    if (::unlink(nome) != 0 && errno != ENOENT) return -1;
    const int fd =
        ::open(nome, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, kModo);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

Relatorio::Relatorio() : fd_(CriaNovo(kArquivoRelatorio)) {
  if (fd_ < 0 || ::fchmod(fd_, kModo) != 0) {
    const std::string motivo = std::strerror(errno);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    Raise(75, std::string("Path/File access error: ") + kArquivoRelatorio + ": " + motivo);
  }
  Escreve(AteColuna("Num do Empenho") + "Resultado");
  if (!falha_.empty()) {
    ::close(fd_);
    fd_ = -1;
    Raise(75, std::string("Path/File access error: ") + kArquivoRelatorio + ": " + falha_);
  }
}

Relatorio::~Relatorio() {
  if (fd_ >= 0) ::close(fd_);
}

std::string Relatorio::Formata(const Value& codigo, const std::string& resultado) {
  std::string numero;
  if (codigo.IsNull()) {
    numero = "Null ";
  } else {
    const std::string digitos = codigo.DisplayText();
    numero = (digitos.rfind('-', 0) == 0 ? digitos : " " + digitos) + " ";
  }
  return AteColuna(numero) + resultado;
}

void Relatorio::Linha(const Value& codigo, const std::string& resultado) {
  Escreve(Formata(codigo, resultado));
}

void Relatorio::LinhaSemCodigo(const std::string& resultado) { Escreve(AteColuna("") + resultado); }

void Relatorio::Falhou(const char* onde) {
  if (falha_.empty()) falha_ = std::string(onde) + ": " + std::strerror(errno);
}

void Relatorio::Escreve(const std::string& texto) {
  if (fd_ < 0 || !falha_.empty()) return;
  const std::string linha = texto + "\r\n";
  const char* p = linha.data();
  size_t resta = linha.size();
  while (resta > 0) {
    const ssize_t n = ::write(fd_, p, resta);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      Falhou("write");
      return;
    }
    p += n;
    resta -= static_cast<size_t>(n);
  }
}

bool Relatorio::Fecha() {
  if (fd_ < 0) return falha_.empty();
  // A full disk may only show when the data reaches it.
  if (::fsync(fd_) != 0 && errno != EINVAL) Falhou("fsync");
  if (::close(fd_) != 0) Falhou("close");
  fd_ = -1;
  return falha_.empty();
}

}  // namespace kz

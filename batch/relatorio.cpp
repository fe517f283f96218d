#include "batch/relatorio.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/runtime_error.h"

namespace kz {
namespace {

constexpr size_t kColunaResultado = 20;
constexpr mode_t kModo = 0640;
// The hidden file of a run: the name, a dot in front, the process number
// behind.
const std::string kPrefixo = std::string(".") + kArquivoRelatorio + ".";

std::string AteColuna(std::string texto) {
  if (texto.size() < kColunaResultado - 1) texto.resize(kColunaResultado - 1, ' ');
  return texto;
}

[[noreturn]] void NaoCria(const std::string& motivo) {
  Raise(75, std::string("Path/File access error: ") + kArquivoRelatorio + ": " + motivo);
}

// Hidden files of runs that were killed before they could remove theirs.
void RemoveAbandonados(int pasta) {
  const int fd = ::openat(pasta, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* d = ::fdopendir(fd);
  if (!d) {
    ::close(fd);
    return;
  }
  while (const dirent* e = ::readdir(d)) {
    const std::string nome = e->d_name;
    if (!nome.starts_with(kPrefixo)) continue;
    const long pid = std::strtol(nome.c_str() + kPrefixo.size(), nullptr, 10);
    if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      ::unlinkat(pasta, nome.c_str(), 0);
    }
  }
  ::closedir(d);
}

}  // namespace

Relatorio::Relatorio() {
  std::error_code ec;
  const std::filesystem::path aqui = std::filesystem::current_path(ec);
  caminho_ = ec ? std::string(kArquivoRelatorio) : (aqui / kArquivoRelatorio).string();
  pasta_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (pasta_ < 0) NaoCria(std::strerror(errno));
  struct stat st {};
  if (::fstatat(pasta_, kArquivoRelatorio, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    // A folder at the name could never be replaced by the report.
    if (S_ISDIR(st.st_mode)) NaoCria("uma pasta tem esse nome");
    dev_antes_ = st.st_dev;
    ino_antes_ = st.st_ino;
  }
  RemoveAbandonados(pasta_);
  nome_ = kPrefixo + std::to_string(::getpid());
  ::unlinkat(pasta_, nome_.c_str(), 0);
  fd_ = ::openat(pasta_, nome_.c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, kModo);
  if (fd_ < 0 || ::fchmod(fd_, kModo) != 0) {
    const std::string motivo = std::strerror(errno);
    Remove();
    NaoCria(motivo);
  }
  Escreve(AteColuna("Num do Empenho") + "Resultado");
  if (!falha_.empty()) {
    const std::string motivo = falha_;
    Remove();
    NaoCria(motivo);
  }
}

void Relatorio::Remove() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (pasta_ >= 0 && !nome_.empty()) ::unlinkat(pasta_, nome_.c_str(), 0);
  nome_.clear();
}

Relatorio::~Relatorio() {
  Remove();
  if (pasta_ >= 0) ::close(pasta_);
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

void Relatorio::Falhou(const std::string& onde) {
  if (falha_.empty()) falha_ = onde + ": " + std::strerror(errno);
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

bool Relatorio::Publica(bool confirmado) {
  if (fd_ < 0) return falha_.empty();
  // A full disk may only show when the data reaches it.
  if (::fsync(fd_) != 0 && errno != EINVAL) Falhou("fsync");
  struct stat meu {};
  if (::fstat(fd_, &meu) != 0) Falhou("fstat");
  if (!falha_.empty()) {
    Remove();
    return false;
  }
  // One run at a time looks at the name and replaces it.
  while (::flock(pasta_, LOCK_EX) != 0 && errno == EINTR) {
  }
  struct stat agora {};
  const bool havia = ::fstatat(pasta_, kArquivoRelatorio, &agora, AT_SYMLINK_NOFOLLOW) == 0;
  const bool mudou = havia ? agora.st_dev != dev_antes_ || agora.st_ino != ino_antes_
                           : dev_antes_ != 0 || ino_antes_ != 0;
  if (!confirmado && mudou) {
    falha_ = "outra execucao gravou o seu relatorio neste diretorio durante esta; ele foi mantido";
    ::flock(pasta_, LOCK_UN);
    Remove();
    return false;
  }
  if (::renameat(pasta_, nome_.c_str(), pasta_, kArquivoRelatorio) != 0) {
    Falhou("rename");
  } else {
    nome_.clear();
    if (::fsync(pasta_) != 0 && errno != EINVAL) Falhou("fsync da pasta");
  }
  ::flock(pasta_, LOCK_UN);
  if (::close(fd_) != 0) Falhou("close");
  fd_ = -1;
  // Where the run says it is: the folder may have been removed or moved.
  struct stat la {};
  if (falha_.empty()) {
    if (::stat(caminho_.c_str(), &la) != 0) {
      Falhou(caminho_);
    } else if (la.st_dev != meu.st_dev || la.st_ino != meu.st_ino) {
      errno = ENOENT;
      Falhou(caminho_);
    }
  }
  Remove();
  return falha_.empty();
}

}  // namespace kz

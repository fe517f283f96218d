#include "app/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "app/decifra.h"
#include "common/mensagem.h"
#include "common/runtime_error.h"
#include "common/text_routines.h"
#include "common/value.h"

namespace kz {

namespace {

constexpr const char* kDefaultFile = "default.txt";
constexpr const char* kRunFile = "Tarvelinko.txt";
constexpr const char* kFieldSeparator = "|";

bool IsBlank(char ch) { return ch == ' ' || ch == '\t'; }
bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A double rounded half to even into a 32-bit whole number; 6 outside it.
int32_t RoundToLong(double value) {
  const double rounded = std::nearbyint(value);  // the default mode rounds half to even
  if (!(rounded >= std::numeric_limits<int32_t>::min() &&
        rounded <= std::numeric_limits<int32_t>::max())) {
    Raise(err::kOverflow);
  }
  return static_cast<int32_t>(rounded);
}

}  // namespace

std::filesystem::path SettingsDirectory() {
  const char* dir = std::getenv("KZ_QUBO_DIR");
  if (dir != nullptr && *dir != '\0') return std::filesystem::path(dir);
  return std::filesystem::path("/etc/kz-qubo/");
}

std::vector<std::string> ReadLines(const std::filesystem::path& file, int count) {
  // Only a regular file is read: a FIFO nobody writes to would hold the run
  // for ever, a folder or a device is no settings file.
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) Raise(err::kFileNotFound, "File not found: " + file.string());
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    Raise(err::kFileNotFound, "File not found: " + file.string() + " (nao e um arquivo comum)");
  }
  std::string texto;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      Raise(err::kFileNotFound, "File not found: " + file.string());
    }
    texto.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);

  std::vector<std::string> lines;
  size_t at = 0;
  while (static_cast<int>(lines.size()) < count) {
    // A last line without a line end still counts; an empty rest does not.
    if (at >= texto.size()) {
      Raise(err::kInputPastEnd, "Input past end of file: " + file.string());
    }
    const size_t fim = texto.find('\n', at);
    std::string line = texto.substr(at, fim == std::string::npos ? std::string::npos : fim - at);
    // Only a CR that belongs to a CR LF is part of the line end.
    if (fim != std::string::npos && !line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = fim == std::string::npos ? texto.size() : fim + 1;
  }
  return lines;
}

DefaultSettings ReadDefault(const std::filesystem::path& dir) {
  // Line 1 is not ours to read: it is taken and dropped.
  std::vector<std::string> lines = ReadLines(dir / kDefaultFile, 4);
  if (const std::string aviso = AvisoLeitura(dir / kDefaultFile); !aviso.empty()) {
    Mensagem(Prioridade::kAviso, aviso);
  }
  return DefaultSettings{std::move(lines[1]), Decifra(lines[2]), Decifra(lines[3])};
}

std::string AvisoLeitura(const std::filesystem::path& file) {
  struct stat st {};
  // The login's password is in it: only its owner may read it.
  if (::stat(file.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IROTH)) == 0) return "";
  return "aviso: " + file.string() + " pode ser lido por outros usuarios (use chmod 600)";
}

std::string ReadRunLine(const std::filesystem::path& dir) {
  return std::move(ReadLines(dir / kRunFile, 1).front());
}

RunSettings ConvertRunLine(const std::string& linha) {
  const Value texto(linha);
  RunSettings run;

  // The booking date is a date: a time of day would make every ledger
  // insert fail after the rest of the run had been applied.
  const std::string campo_data = Campo(texto, kFieldSeparator, 1);
  const std::optional<DateTime> data = DateTime::ParseDayFirst(campo_data);
  if (!data || data->HasTime() || campo_data.find(':') != std::string::npos) {
    Raise(err::kTypeMismatch);
  }
  run.DataCanc = *data;

  // Any text reads as a number here (empty text as 0); only the range can fail.
  Value marca(Campo(texto, kFieldSeparator, 2));
  run.StaEpnCanc = RoundToLong(ValorNumerico(marca));

  run.EpnDe = TextToLong(Campo(texto, kFieldSeparator, 3));
  run.EpnAte = TextToLong(Campo(texto, kFieldSeparator, 4));
  run.CodUsuario = TextToLong(Campo(texto, kFieldSeparator, 5));
  return run;
}

int SegundosDoAmbiente(const char* nome) {
  const char* v = std::getenv(nome);
  if (v == nullptr || *v == '\0') return 0;
  const std::string_view t = TrimBlanks(v);
  int64_t segundos = 0;
  for (char ch : t) {
    if (!IsDigit(ch) || segundos > 86400) segundos = -1;
    if (segundos < 0) break;
    segundos = segundos * 10 + (ch - '0');
  }
  if (t.empty() || segundos <= 0 || segundos > 86400) {
    Raise(err::kTypeMismatch, std::string("Type mismatch: ") + nome + "=" + v +
                                  " (um numero de segundos de 1 a 86400)");
  }
  return static_cast<int>(segundos);
}

int32_t TextToLong(const std::string& text) {
  // [sign] digits [',' digits], blanks around. The decimal mark is the comma of
  // the fixed locale. A point is refused: there it groups thousands, so
  // "1.000" could mean 1 or 1000, and a settings field has no use for either.
  std::string_view t = TrimBlanks(text);
  bool negative = false;
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  const size_t comma = t.find(',');
  const std::string_view whole = t.substr(0, comma);
  const std::string_view fraction =
      comma == std::string_view::npos ? std::string_view() : t.substr(comma + 1);
  const auto all_digits = [](std::string_view s) {
    for (char ch : s) {
      if (!IsDigit(ch)) return false;
    }
    return true;
  };
  if (whole.empty() && fraction.empty()) Raise(err::kTypeMismatch);
  if (!all_digits(whole) || !all_digits(fraction)) Raise(err::kTypeMismatch);

  // The magnitude saturates just past the 32-bit range, so long texts cannot
  // wrap around.
  constexpr int64_t kBeyond = int64_t{1} << 32;
  int64_t magnitude = 0;
  for (char ch : whole) magnitude = std::min(magnitude * 10 + (ch - '0'), kBeyond);

  // Round the fraction half to even, exactly on its digits.
  if (!fraction.empty()) {
    const char first = fraction.front();
    const bool above_half = first > '5' || (first == '5' && fraction.find_first_not_of('0', 1) !=
                                                                std::string_view::npos);
    const bool half = first == '5' && !above_half;
    if (above_half || (half && magnitude % 2 == 1)) magnitude = std::min(magnitude + 1, kBeyond);
  }

  const int64_t value = negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    Raise(err::kOverflow);
  }
  return static_cast<int32_t>(value);
}

}  // namespace kz

#pragma once

#include <string>

#include "common/value.h"

namespace kz {

inline constexpr const char* kArquivoRelatorio = "Resultado do Cancelamento.txt";

// The report "Resultado do Cancelamento.txt" in the current directory: a
// header, then one line per commitment with its code from column 1 (written
// with a sign position and a trailing blank) and the result from column 20.
// Lines end in CR LF and go to the file as they are written.
//
// The file is always a new regular file of this run, mode 0640 whatever the
// umask: an old report is removed first, and the new one is created
// exclusively without following links, so a link, FIFO or device planted
// at the name is never written through or waited on.
class Relatorio {
 public:
  // Creates the file and writes the header line. Raises 75 when it cannot.
  Relatorio();
  ~Relatorio();
  Relatorio(const Relatorio&) = delete;
  Relatorio& operator=(const Relatorio&) = delete;

  // One commitment line. A Null code is written as the word Null.
  void Linha(const Value& codigo, const std::string& resultado);
  // A line whose code columns stay blank.
  void LinhaSemCodigo(const std::string& resultado);
  // Puts the file on disk and closes it. False when a write, the flush or
  // the close failed; Falha() says why. Later lines are not written.
  bool Fecha();
  const std::string& Falha() const { return falha_; }

  // The text of one line without its CR LF, as Linha writes it.
  static std::string Formata(const Value& codigo, const std::string& resultado);

 private:
  void Escreve(const std::string& texto);
  void Falhou(const char* onde);
  int fd_ = -1;
  std::string falha_;
};

}  // namespace kz

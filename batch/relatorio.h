#pragma once

#include <cstdint>
#include <fstream>
#include <string>

#include "common/value.h"

namespace kz {

inline constexpr const char* kArquivoRelatorio = "Resultado do Cancelamento.txt";

// The report "Resultado do Cancelamento.txt" in the current directory: a
// header, then one line per commitment with its code from column 1 (written
// with a sign position and a trailing blank) and the result from column 20.
// Lines end in CR LF. Every line is flushed as it is written.
class Relatorio {
 public:
  // Creates the file anew and writes the header line.
  Relatorio();

  // One commitment line. A Null code is written as the word Null.
  void Linha(const Value& codigo, const std::string& resultado);
  // A line whose code columns stay blank.
  void LinhaSemCodigo(const std::string& resultado);

  // The text of one line without its CR LF, as Linha writes it.
  static std::string Formata(const Value& codigo, const std::string& resultado);

 private:
  void Escreve(const std::string& texto);
  std::ofstream out_;
};

}  // namespace kz

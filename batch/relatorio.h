#pragma once

#include <sys/types.h>

#include <string>

#include "common/value.h"

namespace kz {

inline constexpr const char* kArquivoRelatorio = "Resultado do Cancelamento.txt";

// The report "Resultado do Cancelamento.txt" in the current directory: a
// header, then one line per commitment with its code from column 1 (written
// with a sign position and a trailing blank) and the result from column 20.
// Lines end in CR LF.
//
// The report is written to a hidden file of its own in the folder and put
// under the name at the end (Publica), replacing whatever stands there, a
// link itself and never its target: the name always holds a whole report,
// the file is a regular file of this run, mode 0640 whatever the umask. Two
// runs in one folder never take each other's report: a run that committed
// always puts its report under the name (or says it could not: exit 5); a
// run that did not commit leaves alone a report another run put there while
// it ran.
class Relatorio {
 public:
  // Starts the report and writes the header line. Raises 75 when it cannot
  // (the folder cannot be written, a folder stands at the name...).
  Relatorio();
  ~Relatorio();  // a report not published is removed
  Relatorio(const Relatorio&) = delete;
  Relatorio& operator=(const Relatorio&) = delete;

  // One commitment line. A Null code is written as the word Null.
  void Linha(const Value& codigo, const std::string& resultado);
  // A line whose code columns stay blank.
  void LinhaSemCodigo(const std::string& resultado);
  // Puts the file on disk and under the name, then checks that the name in
  // the folder where the run started holds it. False when a write, the
  // flush, the rename or the check failed (Falha() says why), or when the
  // run did not commit (`confirmado` false) and another run put its report
  // under the name meanwhile (Falha() says so). Later lines are not written.
  bool Publica(bool confirmado);
  const std::string& Falha() const { return falha_; }
  // The report's full name, as the run found its folder at the start.
  const std::string& Caminho() const { return caminho_; }

  // The text of one line without its CR LF, as Linha writes it.
  static std::string Formata(const Value& codigo, const std::string& resultado);

 private:
  void Escreve(const std::string& texto);
  void Falhou(const std::string& onde);
  void Remove();
  int pasta_ = -1;    // the folder, opened at the start
  int fd_ = -1;       // the file being written
  std::string nome_;  // its hidden name in the folder, until published
  std::string caminho_;
  dev_t dev_antes_ = 0;  // what stood at the name at the start (0: nothing)
  ino_t ino_antes_ = 0;
  std::string falha_;
};

}  // namespace kz

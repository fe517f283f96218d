#include "batch/relatorio.h"

#include "common/runtime_error.h"

namespace kz {
namespace {

constexpr size_t kColunaResultado = 20;

std::string AteColuna(std::string texto) {
  if (texto.size() < kColunaResultado - 1) texto.resize(kColunaResultado - 1, ' ');
  return texto;
}

}  // namespace

Relatorio::Relatorio() : out_(kArquivoRelatorio, std::ios::binary | std::ios::trunc) {
  if (!out_) Raise(75, std::string("Path/File access error: ") + kArquivoRelatorio);
  Escreve(AteColuna("Num do Empenho") + "Resultado");
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

void Relatorio::Escreve(const std::string& texto) {
  out_ << texto << "\r\n";
  out_.flush();
}

}  // namespace kz

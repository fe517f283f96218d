#include "data/texto_do_status.h"

#include <ibase.h>

#include <deque>
#include <string_view>
#include <vector>

#include "data/fb_session.h"
#include "data/nomes_de_erro.h"

namespace kz {
namespace {

constexpr std::string_view kDesconhecido = "unknown ISC error";
// Shorter passwords are not looked for: any word of a message may hold them
// by chance, and masking that word would tell where they are.
constexpr size_t kSenhaProcurada = 6;

bool Alfanumerico(char ch) {
  return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
         static_cast<unsigned char>(ch) >= 0x80;
}

// Whether `texto` holds `palavra` with no letter or digit right before or
// after it.
bool TemPalavra(std::string_view texto, std::string_view palavra) {
  if (palavra.size() < kSenhaProcurada) return false;
  for (size_t at = texto.find(palavra); at != std::string_view::npos;
       at = texto.find(palavra, at + 1)) {
    const size_t fim = at + palavra.size();
    if ((at == 0 || !Alfanumerico(texto[at - 1])) &&
        (fim == texto.size() || !Alfanumerico(texto[fim]))) {
      return true;
    }
  }
  return false;
}

// The arguments that follow a code: how many vector places the one at `v`
// takes.
size_t Largura(intptr_t tipo) { return tipo == isc_arg_cstring ? 3 : 2; }

bool ETexto(intptr_t tipo) {
  return tipo == isc_arg_string || tipo == isc_arg_interpreted || tipo == isc_arg_sql_state ||
         tipo == isc_arg_cstring;
}

std::string_view TextoDe(const intptr_t* v) {
  if (v[0] == isc_arg_cstring) {
    return std::string_view(reinterpret_cast<const char*>(v[2]), static_cast<size_t>(v[1]));
  }
  return reinterpret_cast<const char*>(v[1]);
}

std::string Formata(const std::vector<intptr_t>& v) {
  FbApi& api = FbApi::Get();
  Firebird::IStatus* st = api.master->getStatus();
  st->setErrors(v.data());
  char texto[4096];
  api.util->formatStatus(texto, sizeof texto, st);
  st->dispose();
  return texto;
}

// One code with its arguments, written by the program: the client library
// has no text for it.
std::string Desconhecido(const std::vector<intptr_t>& segmento) {
  std::string out = "erro " + std::to_string(segmento[1]) + " do servidor";
  if (const char* nome = NomeDoErro(segmento[1])) out += std::string(" (") + nome + ")";
  std::string argumentos;
  for (size_t i = 2; i < segmento.size() && segmento[i] != isc_arg_end; i += Largura(segmento[i])) {
    argumentos += argumentos.empty() ? ": " : ", ";
    if (ETexto(segmento[i])) {
      argumentos += TextoDe(&segmento[i]);
    } else {
      argumentos += std::to_string(segmento[i + 1]);
    }
  }
  return out + argumentos;
}

}  // namespace

std::string TextoDoStatus(const intptr_t* erros, const std::string& senha) {
  // A copy, with the parameters that hold the password replaced.
  static const char* const kMascara = "***";
  std::vector<intptr_t> v;
  for (size_t i = 0; erros[i] != isc_arg_end; i += Largura(erros[i])) {
    const size_t n = Largura(erros[i]);
    v.insert(v.end(), erros + i, erros + i + n);
    if (ETexto(erros[i]) && TemPalavra(TextoDe(erros + i), senha)) {
      v.resize(v.size() - n);
      v.push_back(erros[i] == isc_arg_cstring ? isc_arg_string : erros[i]);
      v.push_back(reinterpret_cast<intptr_t>(kMascara));
    }
  }
  v.push_back(isc_arg_end);
  std::string texto = Formata(v);
  if (texto.find(kDesconhecido) == std::string::npos) return texto;

  // Code by code, as the library joins them, writing those it lacks.
  texto.clear();
  for (size_t i = 0; v[i] != isc_arg_end;) {
    size_t fim = i + Largura(v[i]);
    while (v[fim] != isc_arg_end && v[fim] != isc_arg_gds) fim += Largura(v[fim]);
    std::vector<intptr_t> segmento(v.begin() + static_cast<ptrdiff_t>(i),
                                   v.begin() + static_cast<ptrdiff_t>(fim));
    segmento.push_back(isc_arg_end);
    std::string linha = Formata(segmento);
    if (v[i] == isc_arg_gds && linha.starts_with(kDesconhecido)) linha = Desconhecido(segmento);
    if (!linha.empty()) texto += (texto.empty() ? "" : "\n-") + linha;
    i = fim;
  }
  return texto;
}

}  // namespace kz

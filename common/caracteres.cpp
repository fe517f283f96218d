#include "common/caracteres.h"

#include <atomic>

namespace kz {
namespace {

std::atomic<bool> utf8{false};

// The length of the well-formed UTF-8 character at the start of `s`, 0 when
// it does not start with one.
size_t Sequencia(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(0);
  size_t n = 0;
  unsigned minimo = 0;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    minimo = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    minimo = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    minimo = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  unsigned ponto = c & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return 0;
    ponto = (ponto << 6) | (b(i) & 0x3F);
  }
  // No overlong forms, no surrogates, nothing past U+10FFFF.
  if (ponto < minimo || (ponto >= 0xD800 && ponto <= 0xDFFF) || ponto > 0x10FFFF) return 0;
  return n;
}

// The length of the character at the start of `s` for cutting: a broken
// sequence counts one byte a character.
size_t Passo(std::string_view s) {
  const size_t n = Sequencia(s);
  return n == 0 ? 1 : n;
}

}  // namespace

void DefineTextosUtf8(bool valor) { utf8 = valor; }

bool TextosUtf8() { return utf8; }

size_t BytesDosPrimeiros(std::string_view texto, size_t n) {
  if (!utf8) return n < texto.size() ? n : texto.size();
  return BytesDosPrimeirosUtf8(texto, n);
}

size_t BytesDosPrimeirosUtf8(std::string_view texto, size_t n) {
  size_t at = 0;
  for (size_t k = 0; k < n && at < texto.size(); ++k) at += Passo(texto.substr(at));
  return at;
}

std::string Primeiros(std::string_view texto, size_t n) {
  return std::string(texto.substr(0, BytesDosPrimeiros(texto, n)));
}

size_t Caracteres(std::string_view texto) {
  if (!utf8) return texto.size();
  size_t n = 0;
  for (size_t at = 0; at < texto.size(); at += Passo(texto.substr(at))) ++n;
  return n;
}

std::string ValidoNaConexao(std::string texto) {
  if (!utf8) return texto;
  std::string out;
  out.reserve(texto.size());
  for (size_t at = 0; at < texto.size();) {
    const size_t n = Sequencia(std::string_view(texto).substr(at));
    if (n == 0) {
      out += '?';
      ++at;
    } else {
      out.append(texto, at, n);
      at += n;
    }
  }
  return out;
}

}  // namespace kz

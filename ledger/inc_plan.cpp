#include "ledger/inc_plan.h"

#include <unordered_map>

#include "common/runtime_error.h"
#include "common/text_routines.h"
#include "data/grava_erro.h"
#include "data/handler.h"
#include "data/prepara_sql.h"

namespace kz {
namespace {

// Whether `elemento` is one whole element of `lista`: found with a separator
// (or the list's edge) on both sides.
bool ContemElemento(std::string_view lista, std::string_view elemento, std::string_view separador) {
  for (size_t at = lista.find(elemento); at != std::string_view::npos;
       at = lista.find(elemento, at + 1)) {
    const std::string_view antes = lista.substr(0, at);
    const std::string_view depois = lista.substr(at + elemento.size());
    if ((antes.empty() || antes.ends_with(separador)) &&
        (depois.empty() || depois.starts_with(separador))) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string MontaLista(const Value& valor, std::string& lista, std::string& separador,
                       int16_t sem_aspas) {
  const std::string texto = valor.ToText();
  if (texto.empty()) {
    lista = "(" + lista + ")";
    return lista;
  }
  if (separador.empty()) separador = ",";
  const std::string elemento = sem_aspas ? texto : Aspas(valor);
  if (lista.empty()) return elemento;
  // An element already in the list is not added again. A quoted element is
  // looked for whole, between separators: with quotes doubled inside an
  // element, a plain substring test would take 'O' for part of 'O''B' and
  // skip the account above it. Unquoted elements keep the plain substring test.
  const bool presente = sem_aspas ? lista.find(elemento) != std::string::npos
                                  : ContemElemento(lista, elemento, separador);
  if (presente) return lista;
  lista += separador;
  lista += elemento;
  return lista;
}

const std::string& ListaDeContas(const std::string& conta) {
  // It depends on the code alone, and a run posts to the same few accounts
  // over and over, so each code's list is built once per process.
  static std::unordered_map<std::string, std::string> listas;
  if (const auto it = listas.find(conta); it != listas.end()) return it->second;
  if (conta.size() > 32767) Raise(err::kOverflow);  // the length is a 16-bit count
  const auto tamanho = static_cast<int16_t>(conta.size());
  if (listas.size() >= 4096) listas.clear();  // a bound for charts of any size

  // Every beginning of the code, longest first: the account and each account
  // above it. Beginnings that are no account match no row.
  std::string lista;
  std::string separador;
  for (int16_t i = tamanho; i >= 1; --i) {
    lista = MontaLista(Value(conta.substr(0, i)), lista, separador, 0);
  }
  lista = MontaLista(Value(std::string()), lista, separador, 0);
  return listas.emplace(conta, std::move(lista)).first->second;
}

void IncPlan(Modulo1& M, const std::string& conta, Currency valor, const std::string& lado,
             int16_t mes) {
  try {
    const std::string& lista = ListaDeContas(conta);

    const std::string coluna = "Sld" + lado + std::to_string(mes);
    // A lock conflict on a total row waits for the other transaction and then
    // runs the same update again.
    // The code list is joined after the two values are rendered: a "?"
    // inside an account code is part of a literal, not a marker.
    Passo(M, 1, [&] {
      M.Sql = std::string(" UPDATE TB_CTG_CADPLA") + " SET " + coluna + "=" + coluna + "+(?)" +
              " WHERE CodEmp=? AND CodCon IN ";
      M.Sql = PreparaSql(M.Sql, {Value(valor), Value(M.EmpCtg)}) + lista;
      M.Conexao.Execute(M.Sql);
    });
  } catch (const RuntimeError& e) {
    // The posting goes on as if the totals had been updated, unless the run
    // cannot go on at all.
    GravaErro(M, "IncPlan", e);
    if (e.EndsRun()) EncerraExecucao(M);
  }
}

}  // namespace kz

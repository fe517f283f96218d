#pragma once

// One round trip per commitment (KZ_ENVIO=bloco): a commitment's writes are
// recorded instead of sent, then go to the server as one EXECUTE BLOCK with
// the reads the next commitment will make.
//
// While a connection records (Connection::Grava), the routines run as they
// always do and render every statement as they always do; the data layer
// keeps each command instead of sending it, and serves their queries from the
// rows the block before read for them. What a block cannot carry (a query
// nobody read ahead, an error to record) throws ForaDoBloco: the caller
// drops the recording and runs the commitment statement by statement. The
// server runs the recorded statements in their order, each with its literal
// values turned into parameters of the same types, so the block's text
// depends only on the statements' shape and is prepared once per run. A
// failing block leaves nothing: its writes come before its first row.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/value.h"

namespace kz {

class Connection;

// Thrown where a recorded commitment needs what a block cannot give. It is no
// RuntimeError: no routine records it or carries on past it.
struct ForaDoBloco {};

// The rows of one query, as a record set gives them.
struct Linhas {
  std::vector<std::string> nomes;  // column aliases, upper case
  std::vector<std::vector<Value>> linhas;
};
// Queries read ahead, by their exact text.
using Antecipado = std::unordered_map<std::string, Linhas>;

// One recorded write.
struct Escrita {
  enum class Tipo {
    kComando,              // a statement
    kAtualizaSenaoInsere,  // `sql`, and `insercao` when it changed no row
    kExigeLinha,           // the query `sql` must give a first row with a value
  };
  Tipo tipo = Tipo::kComando;
  std::string sql;
  std::string insercao;
};

// What a recording keeps.
struct Gravacao {
  const Antecipado* leituras = nullptr;
  std::vector<Escrita> escritas;
};

// A query's output columns as PSQL declares them ("VARCHAR(60) CHARACTER SET
// WIN1252"), with their aliases. Throws ForaDoBloco for a type a block does
// not carry (BLOB, ARRAY). Database errors raise RuntimeError.
struct Coluna {
  std::string nome;
  std::string tipo;
};
std::vector<Coluna> DescreveConsulta(Connection& c, const std::string& sql);

// The reads a block makes after its writes. `psql` may use the input
// KZ_PROXIMO (INTEGER, NULL when there is no next commitment) and the outputs
// KZ_Q (SMALLINT), KZ_K (BIGINT) and the columns `colunas` declares; every row
// the block returns carries its KZ_Q and KZ_K and the columns `grupos[KZ_Q]`
// names (first output column, count).
struct LeiturasDoBloco {
  std::vector<Coluna> colunas;
  std::string psql;
  std::map<int, std::pair<size_t, size_t>> grupos;
};

struct LinhaLida {
  int q = 0;
  int64_t k = 0;
  std::vector<Value> valores;
};

// Sends `escritas` and then `leituras` for `proximo` as one block. Returns the
// rows read once the writes are done. A failure before the writes were done
// raises its RuntimeError (the server undid them); one in the reads after
// them ends the rows there and leaves `leitura_incompleta` set.
// REQUIRES: the run's transaction is open; the connection does not record.
struct ResultadoDoBloco {
  std::vector<LinhaLida> linhas;
  bool leitura_incompleta = false;
};
ResultadoDoBloco ExecutaBloco(Connection& c, const std::vector<Escrita>& escritas,
                              const LeiturasDoBloco& leituras, std::optional<int32_t> proximo);

// For the tests: how a statement's literal values become parameters. Returns
// the text with ":P<n>" in place of each literal from `primeiro` on, and the
// declaration of each ("VARCHAR(32) CHARACTER SET WIN1252", "NUMERIC(18,2)",
// "BIGINT") with its value's text; nullopt when a literal cannot be carried
// exactly (more than 18 digits, an exponent).
struct Parametro {
  std::string declaracao;
  std::string valor;
};
std::optional<std::string> Parametriza(const std::string& sql, const std::string& charset,
                                       std::vector<Parametro>& parametros);

}  // namespace kz

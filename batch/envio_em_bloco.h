#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "data/bloco.h"
#include "data/run_context.h"

namespace kz {

// KZ_ENVIO=bloco: each commitment's work as one round trip to the server.
//
// The commitment is reversed by the same routines, on a connection that
// records (data/bloco.h): every statement is rendered as in the statement by
// statement run, and their queries are answered by rows the block before
// read for this commitment. The recorded statements then go as one
// EXECUTE BLOCK, in their order, with the reads the next commitment will make
// (its items, cost, payments and card agreements, the same queries). When
// the recording meets what a block cannot carry, or the block fails (the
// server undoes it whole), the commitment is reversed again statement by
// statement, exactly as without the mode: every error row, retry and report
// line keeps its meaning, and the blocks serve the commitments without
// errors.
class EnvioEmBloco {
 public:
  // Reverses the commitment `codigo` (F.RsEpn on its row, read into memory)
  // as one block; `proximo` is the next commitment's code, whose reads the
  // block makes. False when the commitment must go statement by statement
  // (nothing of it was sent, or the server undid it; the run's state is as
  // before). Errors that end the run (a lost connection, a stop request) go
  // to the caller.
  bool CancEpn(frmProcesso& F, int32_t codigo, std::optional<int32_t> proximo);

 private:
  bool Prepara(frmProcesso& F);
  void Guarda(const ResultadoDoBloco& r, std::optional<int32_t> para);

  bool pronto_ = false;
  bool desligado_ = false;  // a query a block cannot carry: no blocks in this run
  LeiturasDoBloco leituras_;
  std::vector<std::string> nomes_[4];  // the aliases of each query's columns
  Antecipado antecipado_;
  std::optional<int32_t> antecipado_para_;
};

}  // namespace kz

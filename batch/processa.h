#pragma once

#include "data/run_context.h"

namespace kz {

enum class FimDoLote {
  Confirmado,  // the run committed
  Recusado,    // "Parametros de Liberação Invalidos !": nothing changed
  Desfeito,    // a failure or a stop request rolled the run back
  Incerto,     // the commit's answer was lost and the outcome could not be verified
  SemInicio,   // the report could not be started: nothing was done
};

struct ResultadoDoLote {
  FimDoLote fim = FimDoLote::Desfeito;
  bool relatorio_gravado = true;  // the report was written in full
};

// The batch driver: cancels, in one transaction, every commitment whose
// STAEPN is the run's status value, writing "Resultado do Cancelamento.txt".
ResultadoDoLote Processa(frmProcesso& F);

}  // namespace kz

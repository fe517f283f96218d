#pragma once

#include "data/run_context.h"

namespace kz {

enum class FimDoLote {
  Confirmado,  // the run committed
  Recusado,    // "Parametros de Liberação Invalidos !": nothing changed
  Desfeito,    // a failure rolled the run back
};

// The batch driver: cancels, in one transaction, every commitment whose
// STAEPN is the run's status value, writing "Resultado do Cancelamento.txt".
FimDoLote Processa(frmProcesso& F);

}  // namespace kz

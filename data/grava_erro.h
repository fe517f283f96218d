#pragma once

#include <string>

#include "common/runtime_error.h"
#include "data/run_context.h"

namespace kz {

inline constexpr const char* kMensagemErroSistema =
    "Erro de Sistema. Por favor Comunique ao Administrador !";

// Records `erro` under the routine name in TB_GER_ERRQUBO and tells the
// operator: the cause on one line, then the message. The row is written and
// committed in a short transaction of its own, so it survives a rollback of
// the run; through `conexao` when given (a new connection after the run's
// was lost), else through M.Conexao. Texts are cut to whole characters.
// Leaves Sql unchanged. An error while recording goes to the caller.
void GravaErro(Modulo1& M, const std::string& rotina, const RuntimeError& erro,
               Connection* conexao = nullptr);

// One operator message: a line "Cancelamento de Empenhos: <texto>" on
// standard error. Never waits.
void MsgBox(const std::string& texto);

}  // namespace kz

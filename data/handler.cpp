#include "data/handler.h"

namespace kz {

bool IsDeadlock(const RuntimeError& e) {
  return e.Description().find("deadlock") != std::string::npos;
}

bool IsUniqueKey(const RuntimeError& e) {
  return e.Description().find("UNIQUE KEY") != std::string::npos;
}

void EncerraExecucao(Modulo1& M) {
  if (M.Conexao.State() == 1 && M.Conexao.InTransaction()) {
    try {
      M.Conexao.RollbackTrans();
    } catch (const RuntimeError& e) {
      // Nothing was committed; the server undoes the transaction when the
      // attachment goes. Say why the rollback could not be confirmed.
      MsgBox("rollback: " + std::to_string(e.Number()) + " " + e.Description());
    }
  }
  throw RunEnded{};
}

}  // namespace kz

#include <exception>
#include <iostream>

#include "app/core_dumps.h"
#include "app/frm_processo.h"

int main() {
  kz::DisableCoreDumps();
  kz::Modulo1 M;
  M.NomeMaquina = kz::NomeDaMaquina();
  kz::frmProcesso F(M);
  try {
    return kz::Form_Load(F);
  } catch (const std::exception& e) {
    // Unwinding closes the connection, which rolls back what was not committed.
    std::cerr << "Cancelamento de Empenhos: " << e.what() << std::endl;
    return kz::kExitRolledBack;
  }
}

#include "batch/ponto_de_teste.h"

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "data/sql_trace.h"

namespace kz {

void PontoDeTeste(const char* ponto) {
  const char* pausa = std::getenv("KZ_PAUSA_TESTE");
  if (!pausa ||
      ("," + std::string(pausa) + ",").find("," + std::string(ponto) + ",") == std::string::npos) {
    return;
  }
  FlushSqlTrace();
  ::raise(SIGSTOP);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
}

}  // namespace kz

#pragma once

#include <cstdint>
#include <string>

#include "common/currency.h"
#include "common/value.h"
#include "data/run_context.h"

namespace kz {

// Adds `valor` to the month's debit ("D") or credit ("C") total of the
// account and of every account above it, in one UPDATE. A lock conflict runs
// the update again; any other error is recorded under "IncPlan" and the
// routine returns normally, except a lock timeout or a step stuck in lock
// conflicts, which is recorded and ends the run (RunEnded).
void IncPlan(Modulo1& M, const std::string& conta, Currency valor, const std::string& lado,
             int16_t mes);

// The parenthesised, quoted list of the account's code and every beginning
// of it, longest first: "('1.1.01','1.1.0','1.1.','1.1','1.','1')". Codes
// longer than 32767 characters raise 6. Built once per code and process; the
// reference stays valid until the next call.
const std::string& ListaDeContas(const std::string& conta);

// Builds the parenthesised list of account codes: a non-empty value is added
// (quoted unless `sem_aspas`) when not yet in the list; an empty value closes
// the list in parentheses. The caller stores the result back into `lista`.
std::string MontaLista(const Value& valor, std::string& lista, std::string& separador,
                       int16_t sem_aspas);

}  // namespace kz

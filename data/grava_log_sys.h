#pragma once

#include <string>

#include "common/value.h"
#include "data/run_context.h"

namespace kz {

// One activity-log row in TB_GER_LOGSYS, inside the caller's transaction.
// Leaves the rendered insert in Sql. Errors go to the caller.
void GravaLogSys(Modulo1& M, const Value& usuario, const std::string& sistema,
                 const std::string& operacao, const std::string& texto);

}  // namespace kz

#pragma once

namespace kz {

// Keeps the process's memory, which holds the database password in clear,
// out of core files and away from other processes: the core size limit is 0
// (soft and hard), and the process is marked not dumpable, so that a core
// handler gets nothing either (unless the system forces dumps) and other
// processes of the same user can neither attach to it nor read its memory.
void DisableCoreDumps();

}  // namespace kz

#pragma once

#include "platform/programs.h"

#include <optional>
#include <sys/types.h>

namespace larkmoor {

// Starts the program at `path` with no shell and no arguments but its own name, without
// waiting; a thread of its own reaps it when it ends. The child's process id, or nothing when
// it could not be started.
std::optional<pid_t> SpawnDetached(const std::string& path);

} // namespace larkmoor

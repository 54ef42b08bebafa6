#pragma once

#include "platform/readiness.h"
#include "platform/registry.h"

#include <functional>
#include <optional>

namespace larkmoor {

// The calls the Windows checks make, which tests replace.
struct ReadinessCalls {
    // Whether this process's token holds SeSystemtimePrivilege (enabled or not: SetSystemTime
    // enables it itself); nothing, with the reason in GetLastError, where the token is unreadable.
    std::function<std::optional<bool>()> holdsTimePrivilege;
    // Whether the service of this name is running.
    std::function<bool(const char* service)> serviceRunning;
    std::function<std::unique_ptr<Registry>()> registry;
};
ReadinessCalls SystemReadinessCalls();

ClockReadiness CheckWindowsReadiness(const ReadinessCalls& calls);

// This machine's checks, in the background.
std::unique_ptr<Readiness> MakeSystemReadiness();

} // namespace larkmoor

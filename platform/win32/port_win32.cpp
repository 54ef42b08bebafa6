#include "platform/win32/port_win32.h"

#include "platform/win32/clock_win32.h"
#include "platform/win32/port_host_win32.h"

#include <windows.h>

namespace larkmoor {

bool NearClosureNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::optional<ClockReading> local = LocalReading(now, SystemTimeCalls());
    return local && NearClosureTime(*local);
}

// The port library runs in a port host started from this very program, so that the station
// still copies one exe.
std::unique_ptr<Port> MakeSystemPort() {
    return MakeHostedPort(
        OwnProgram(), FindPortInBackground(MakeSystemParallelPorts()),
        [] { return static_cast<std::uint32_t>(GetTickCount()); }, NearClosureNow,
        MakeSystemRegistry());
}

} // namespace larkmoor

#include "platform/win32/port_win32.h"

#include "platform/win32/clock_win32.h"
#include "platform/win32/port_host_win32.h"

#include <windows.h>

namespace larkmoor {

namespace {
// True within a minute either side of hh:54:30 by the system clock.
bool NearClosureNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::optional<ClockReading> local = LocalReading(now, SystemTimeCalls());
    return local && NearClosureTime(*local);
}
} // namespace

// The port library runs in a port host started from this very program, so that the station
// still copies one exe.
std::unique_ptr<Port> MakeSystemPort() {
    return MakeHostedPort(
        OwnProgram(), FindPortInBackground(MakeSystemParallelPorts()),
        [] { return static_cast<std::uint32_t>(GetTickCount()); }, NearClosureNow,
        MakeSystemRegistry());
}

} // namespace larkmoor

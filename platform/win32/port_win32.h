#pragma once

// The Windows port: a port library (ntport.dll or inpout32.dll) found by full path, read at the
// status register of the first parallel port as Windows lists it, all on threads of their own.
// The pieces are open here so that tests can give the port their own folders, port and clock.

#include "platform/port.h"
#include "platform/win32/port_discovery_win32.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace larkmoor {

// Milliseconds that wrap around at 2^32, as GetTickCount counts them.
using TickCount = std::function<std::uint32_t()>;

// Reads through the first usable port library in `folders` (full paths, searched in order), at
// the status register `chosen` names, looking again every 5 s while none is usable. It may wait
// on the system: give it to MakeBackgroundPort.
std::unique_ptr<Port> MakeLibraryPort(std::vector<std::string> folders, ChosenRegister chosen,
                                      TickCount ticks);

// Reads `inner` on a thread of its own and waits for it at most a few milliseconds per read: a
// read that is not back by then gives the previous reading for up to a second, then "no port"
// until `inner` answers again. While `nearClosure` says so, the thread reads every millisecond
// on its own, with the system's timer resolution raised to 1 ms, and a read gives the latest.
// Each reading carries the instant (MonotonicNs) the contact was first seen closed.
std::unique_ptr<Port> MakeBackgroundPort(
    std::unique_ptr<Port> inner, TickCount ticks,
    std::function<bool()> nearClosure = [] { return false; });

// True within a minute either side of hh:54:30 by the system clock.
bool NearClosureNow();

// The program's own folder, then the system folder of 32-bit libraries (SysWOW64 for the 32-bit
// program on 64-bit Windows).
std::vector<std::string> PortLibraryFolders();

} // namespace larkmoor

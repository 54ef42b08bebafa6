#pragma once

// The Windows port library (ntport.dll or inpout32.dll), found by full path and read at a given
// address. It is loaded only in the port host's process (port_host_win32.h). The pieces are open
// here so that tests can give the port their own folders and clock.

#include "platform/port.h"
#include "platform/registry.h"
#include "platform/win32/port_discovery_win32.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace larkmoor {

// Milliseconds that wrap around at 2^32, as GetTickCount counts them.
using TickCount = std::function<std::uint32_t()>;

// Reads through the first usable port library in `folders` (full paths, searched in order),
// looking again every 5 s while none is usable; a refused one is loaded again when the library
// files change, or a minute later. A read of address 0 only loads the library: no status, and an
// empty note once it is usable. `driverPolicy` adds to the reason where a driver would not open.
std::unique_ptr<Port> MakeLibraryPort(std::vector<std::string> folders, TickCount ticks,
                                      std::function<std::string()> driverPolicy = {});

// Each port library file in `folders`, with its size and the time it was last written: what
// changes when a library is put in place, replaced or removed.
std::string LibraryFiles(const std::vector<std::string>& folders);

// What Windows' driver policies say about a port driver that would not start: whether Memory
// integrity is on and the vulnerable driver blocklist enforced, and what a station can do; empty
// where neither is.
std::string DriverPolicyNote(Registry& registry);

// The folder of `program`, then the system folder of 32-bit libraries (SysWOW64 for the 32-bit
// program on 64-bit Windows).
std::vector<std::string> PortLibraryFolders(const std::string& program);
// This process's own program file.
std::string OwnProgram();

} // namespace larkmoor

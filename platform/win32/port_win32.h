#pragma once

// The Windows port: a port library (ntport.dll or inpout32.dll) found by full path, and the
// first parallel port as Windows lists it. The pieces are open here so that tests can give the
// port their own folders, port list and clock.

#include "platform/port.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace larkmoor {

// A parallel port as Windows lists it: its name ("LPT1") and the base of its I/O range.
struct ParallelPort {
    std::string name;
    std::uint16_t base = 0;
};

// Lists the parallel ports that are present; nothing when Windows cannot list them.
class ParallelPorts {
  public:
    virtual ~ParallelPorts() = default;
    virtual std::optional<std::vector<ParallelPort>> List() = 0;
};
std::unique_ptr<ParallelPorts> MakeSystemParallelPorts(); // through SetupAPI
// The first I/O range that WMI gives for the device with this instance ID, where SetupAPI may not
// give it (a 32-bit program on 64-bit Windows 8 and later).
std::optional<std::uint16_t> WmiIoBase(const std::string& instanceId);

// The status register of the first parallel port, and in words which port that is.
struct StatusRegister {
    std::uint16_t address = kStatusPort;
    std::string which;
};
// 0x379 where a port sits at 0x378 or none is listed; else base + 1 of LPT1, else of the
// lowest-numbered port listed.
StatusRegister ChooseStatusRegister(const std::optional<std::vector<ParallelPort>>& ports);

// Milliseconds that wrap around at 2^32, as GetTickCount counts them.
using TickCount = std::function<std::uint32_t()>;

// Reads through the first usable port library in `folders` (full paths, searched in order),
// looking again every 5 s while none is usable.
std::unique_ptr<Port> MakeLibraryPort(std::vector<std::string> folders,
                                      std::unique_ptr<ParallelPorts> ports, TickCount ticks);

// The program's own folder, then the system folder.
std::vector<std::string> PortLibraryFolders();

} // namespace larkmoor

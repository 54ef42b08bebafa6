#pragma once

// Which parallel port Windows lists first, and the address of its status register: found through
// SetupAPI and, where that gives no I/O range, WMI, on a thread of its own, since either may take
// seconds or hang, and listed again every minute. A port is read only at an address Windows gives
// for it, or at 0x379 where Windows lists none. The pieces are open here so that tests can give
// their own port list.

#include "platform/port.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace larkmoor {

// How long a missing port library or an unlisted port waits before it is looked for again.
inline constexpr std::uint32_t kLookAgainMs = 5000;
// How long a list of the ports stands before they are listed again, so that a card whose driver
// comes later is found.
inline constexpr std::uint32_t kListAgainMs = 60000;

// A parallel port as Windows lists it: its name ("LPT1") and the base of its standard registers,
// where Windows could give its I/O range.
struct ParallelPort {
    std::string name;
    std::optional<std::uint16_t> base;
};

// One I/O range of a device, first and last address included.
struct IoRange {
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};
// The base of the range that holds a parallel port's standard registers (data, status, control);
// nothing when there is no range.
std::optional<std::uint16_t> StandardRegisters(const std::vector<IoRange>& ranges);

// Lists the parallel ports that are present; nothing when Windows cannot list them.
class ParallelPorts {
  public:
    virtual ~ParallelPorts() = default;
    virtual std::optional<std::vector<ParallelPort>> List() = 0;
};
std::unique_ptr<ParallelPorts> MakeSystemParallelPorts(); // SetupAPI, then WMI

// The WQL query for the I/O ranges of the device with this instance ID ("PCI\VEN_...").
std::string WmiPortResourceQuery(const std::string& instanceId);
// Those ranges as WMI gives them, each call within a time limit; nothing where WMI could not give
// them all. Needs COM on the calling thread.
std::optional<std::vector<IoRange>> WmiIoRanges(const std::string& instanceId);
// The next row of a query's result, waited for `waitMs` at most (IEnumWbemClassObject::Next), and
// the range it holds where a row came.
using NextRow = std::function<long(long waitMs, std::optional<IoRange>& range)>;
// The ranges of a query's rows, each waited for a few seconds at most; nothing unless the list
// ends as complete (WBEM_S_FALSE).
std::optional<std::vector<IoRange>> WmiRanges(const NextRow& next);

// The status register of the first parallel port, and in words which port that is; no address,
// and why, where no port may be read.
struct StatusRegister {
    std::optional<std::uint16_t> address = kStatusPort;
    std::string which;
    bool operator==(const StatusRegister&) const = default;
};
// 0x379 where a port sits at 0x378 or none is listed; else base + 1 of LPT1, else of the
// lowest-numbered port listed; no address where Windows could not list the ports or gave no
// I/O range for that port.
StatusRegister ChooseStatusRegister(const std::optional<std::vector<ParallelPort>>& ports);

// The status register chosen so far; nothing until the first list is in.
using ChosenRegister = std::function<std::optional<StatusRegister>()>;
// Lists `ports` on a thread of its own (with its own COM apartment), again every `retryMs` while
// no port may be read and every `relistMs` after that. A list that gives no address never
// replaces one that did. The thread is told to stop when the last copy of the result goes.
ChosenRegister FindPortInBackground(std::unique_ptr<ParallelPorts> ports,
                                    std::uint32_t retryMs = kLookAgainMs,
                                    std::uint32_t relistMs = kListAgainMs);

} // namespace larkmoor

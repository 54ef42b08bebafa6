#pragma once

#include "platform/clock.h"

#include <windows.h>

#include <string>

namespace larkmoor {

// The reading of the UTC instant `utc` in the system's time zone.
ClockReading LocalReading(const FILETIME& utc);

// The system's own message for `code`, with the code: "Access is denied (error 5)."
std::string SystemMessage(DWORD code);
// What the user reads when setting the clock failed with `code`.
std::string SetRefusal(DWORD code);

// Conversions between FILETIME (100 ns since 1601) and nanoseconds since 1970.
std::int64_t FileTimeToUnixNs(const FILETIME& ft);
FILETIME UnixNsToFileTime(std::int64_t ns);

} // namespace larkmoor

#pragma once

#include "platform/clock.h"

#include <windows.h>

namespace larkmoor {

// The reading of the UTC instant `utc` in the system's time zone.
ClockReading LocalReading(const FILETIME& utc);

// Conversions between FILETIME (100 ns since 1601) and nanoseconds since 1970.
std::int64_t FileTimeToUnixNs(const FILETIME& ft);
FILETIME UnixNsToFileTime(std::int64_t ns);

} // namespace larkmoor

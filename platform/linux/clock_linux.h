#pragma once

#include "platform/clock.h"

#include <chrono>
#include <ctime>
#include <memory>
#include <string>

namespace larkmoor {

// The reading of the instant `ts` in the process's time zone.
ClockReading LocalReading(const timespec& ts);

// The clock helper beside this program (a build tree), else the installed one.
std::string FindClockHelper();

// How long a set may take before its helper is stopped. The helper names the set in the system
// log before it makes it, so a log that is slow to take the line holds it up.
inline constexpr std::chrono::seconds kHelperLimit{30};

// Reads the clock itself, in the system's zone as it is now; sets it by starting the clock
// helper at `helper` (no shell, no arguments, an empty environment). The set is pending until
// the helper ends: Outcome looks at it without waiting.
std::unique_ptr<Clock> MakeHelperClock(std::string helper,
                                       std::chrono::seconds limit = kHelperLimit);

} // namespace larkmoor

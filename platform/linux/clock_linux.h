#pragma once

#include "platform/clock.h"
#include "platform/linux/set_clock.h" // LocalReading

#include <chrono>
#include <ctime>
#include <memory>
#include <string>

namespace larkmoor {

// The clock helper beside this program (a build tree), else the installed one.
std::string FindClockHelper();

// How long a set may take before its helper is stopped. The helper names the set in the system
// log before it makes it, so a log that is slow to take the line holds it up.
inline constexpr std::chrono::seconds kHelperLimit{30};

// The time of day the helper's output says it set: "hh:mm:ss.mmm" from the line it writes after
// the set, else "hh:mm:ss" from the one before; empty when neither is there.
std::string SetTimeText(const std::string& output);

// Reads the clock itself, in the system's zone as it is now; sets it by starting the clock
// helper at `helper` (no shell, one argument: the closure's instant on CLOCK_MONOTONIC in
// nanoseconds; an empty environment). The set is pending until
// the helper ends: Outcome looks at it without waiting.
std::unique_ptr<Clock> MakeHelperClock(std::string helper,
                                       std::chrono::seconds limit = kHelperLimit);

} // namespace larkmoor

#pragma once

#include "platform/clock.h"

#include <ctime>
#include <memory>
#include <string>

namespace larkmoor {

// The reading of the instant `ts` in the process's time zone.
ClockReading LocalReading(const timespec& ts);

// The clock helper beside this program (a build tree), else the installed one.
std::string FindClockHelper();

// How long a set waits for the helper before stopping it.
inline constexpr int kHelperTimeoutMs = 2000;

// Reads the clock itself, in the system's zone as it is now; sets it by running the clock
// helper at `helper` (no shell, no arguments, an empty environment) and waiting for it.
std::unique_ptr<Clock> MakeHelperClock(std::string helper);

} // namespace larkmoor

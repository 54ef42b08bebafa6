#pragma once

#include "platform/clock.h"

#include <ctime>

namespace larkmoor {

// The reading of the instant `ts` in the process's time zone.
ClockReading LocalReading(const timespec& ts);

} // namespace larkmoor

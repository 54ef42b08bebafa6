#pragma once

#include "platform/clock.h"
#include "platform/win32/system_message_win32.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace larkmoor {

// The calls the clock makes to Windows, which tests replace as they replace the port's tick
// count. Each returns false, with the reason in GetLastError, where Windows refuses.
struct TimeCalls {
    // The local time, in the system's zone, of the UTC time `utc`.
    std::function<bool(const SYSTEMTIME& utc, SYSTEMTIME& local)> toLocal;
    // Sets the clock from UTC fields: SetSystemTime.
    std::function<bool(const SYSTEMTIME& utc)> setUtc;
    // The monotonic clock the port's thread marks closures on: MonotonicNs.
    std::function<std::int64_t()> monotonicNs;
};

// Nanoseconds on the performance counter, which never moves with the system clock.
std::int64_t MonotonicNs();

// On some multi-processor PCs of Windows XP's time the performance counter differs between
// processors, and a closure's instant and its set are read on different threads (and processes):
// there both run on the lowest processor of `processMask`. Nothing where the counter agrees
// (Vista and later keep it so) or there is one processor.
std::optional<DWORD_PTR> ClockAffinity(unsigned windowsMajor, DWORD_PTR processMask);
// Applies it to this process, whose port host inherits it.
void KeepClockReadingsTogether();
TimeCalls SystemTimeCalls();
std::unique_ptr<Clock> MakeWin32Clock(TimeCalls calls);

// The reading of the UTC instant `utc` in local time; nothing where `toLocal` fails.
std::optional<ClockReading> LocalReading(const FILETIME& utc, const TimeCalls& calls);

// What the user reads when setting the clock failed with `code`.
std::string SetRefusal(DWORD code);

// Conversions between FILETIME (100 ns since 1601) and nanoseconds since 1970.
std::int64_t FileTimeToUnixNs(const FILETIME& ft);
FILETIME UnixNsToFileTime(std::int64_t ns);

} // namespace larkmoor

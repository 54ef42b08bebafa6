#pragma once

// Pieces of the clock helper, larkmoor-set-clock: the one program that holds CAP_SYS_TIME. It
// sets the clock to minute 54, second 30 of the hour it reads, writes the hardware clock, and
// tells the window program what happened through its exit status.

#include <ctime>
#include <functional>
#include <linux/rtc.h>
#include <string>

namespace larkmoor {

inline constexpr const char* kHelperName = "larkmoor-set-clock";
inline constexpr const char* kInstalledHelper = "/usr/libexec/larkmoor/larkmoor-set-clock";
inline constexpr const char* kRtcDevice = "/dev/rtc0";
inline constexpr const char* kSystemZone = "/etc/localtime";

// The helper's exit status: 0 when the clock was set and the hardware clock written; N (1 to
// 125) when the clock was not set, errno N; kZoneNotLoaded when it set nothing because the
// system's time zone could not be loaded; 128 + N when the clock was set but the hardware clock
// was not written, errno N. An errno too large for its range is reported as the largest.
inline constexpr int kZoneNotLoaded = 126;
int HelperStatus(int setError, int rtcError);

struct HelperOutcome {
    bool set = false;
    int error = 0; // why the clock was not set, or why the hardware clock was not written
};
HelperOutcome ReadHelperStatus(int exitStatus);

// Raises each soft resource limit to its hard one: the caller chooses the limits, and one low
// enough to starve glibc's loading of the zone file would make it quietly use UTC.
void RaiseSoftLimits();

// False when the process's zone is glibc's stand-in for a zone file it could not load (under the
// caller's limits, say). glibc gives no sign of that but falling back to UTC, named "UTC"; a zone
// file that really means UTC says so in the rule it ends with, "UTC0". No file at all means UTC.
bool SystemZoneLoaded(const std::string& zoneFile);

// The system clock as the helper uses it; tests replace it.
struct ClockCalls {
    std::function<timespec(clockid_t)> read;
    std::function<int(const timespec&)> set; // 0, or the errno of a refusal
};
ClockCalls SystemClockCalls();

struct ClockMove {
    timespec before{}; // the clock read for the set
    timespec set{};    // the time the clock was set to, or would have been
    int error = 0;     // errno of a refused set
};

// Reads the clock and at once sets it to minute 54, second 30 of the hour read. Only arithmetic
// lies between the two; should the helper be held there all the same (stopped, or the machine
// suspended), the hour read may have passed. The boot clock, which counts that time, tells: the
// reading is brought forward by it and the clock set again, until a set falls within the hour
// it was read in.
ClockMove SetToFiftyFourThirty(const ClockCalls& calls = SystemClockCalls());

// True when the third line of an adjtime file says LOCAL: the hardware clock keeps local time.
// Anything else, a missing file included, means UTC.
bool AdjtimeSaysLocal(const std::string& adjtimePath);

// The hardware clock's reading for the instant `utc`, in UTC or in the process's time zone.
rtc_time RtcTime(std::time_t utc, bool local);

// Writes `time` to the RTC device at `device`: 0, or the errno of the failure.
int WriteRtc(const std::string& device, const rtc_time& time);

} // namespace larkmoor

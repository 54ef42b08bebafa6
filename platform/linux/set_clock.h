#pragma once

// Pieces of the clock helper, larkmoor-set-clock: the one program that holds CAP_SYS_TIME. It
// sets the clock to minute 54, second 30 of the hour it reads, writes the hardware clock, and
// tells the window program what happened through its exit status.

#include <ctime>
#include <linux/rtc.h>
#include <string>

namespace larkmoor {

inline constexpr const char* kHelperName = "larkmoor-set-clock";
inline constexpr const char* kInstalledHelper = "/usr/libexec/larkmoor/larkmoor-set-clock";
inline constexpr const char* kRtcDevice = "/dev/rtc0";

// The helper's exit status: 0 when the clock was set and the hardware clock written; N (1 to
// 127) when the clock was not set, errno N; 128 + N when the clock was set but the hardware clock
// was not written, errno N. An errno above 127 is reported as 127.
int HelperStatus(int setError, int rtcError);

struct HelperOutcome {
    bool set = false;
    int error = 0; // why the clock was not set, or why the hardware clock was not written
};
HelperOutcome ReadHelperStatus(int exitStatus);

// True when the third line of an adjtime file says LOCAL: the hardware clock keeps local time.
// Anything else, a missing file included, means UTC.
bool AdjtimeSaysLocal(const std::string& adjtimePath);

// The hardware clock's reading for the instant `utc`, in UTC or in the process's time zone.
rtc_time RtcTime(std::time_t utc, bool local);

// Writes `time` to the RTC device at `device`: 0, or the errno of the failure.
int WriteRtc(const std::string& device, const rtc_time& time);

} // namespace larkmoor

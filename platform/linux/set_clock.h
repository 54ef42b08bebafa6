#pragma once

// Pieces of the clock helper, larkmoor-set-clock: the one program that holds CAP_SYS_TIME. It
// sets the clock to minute 54, second 30 of the hour it reads, writes the hardware clock, and
// tells the window program what happened through its exit status.

#include <cstdint>
#include <ctime>
#include <functional>
#include <linux/rtc.h>
#include <optional>
#include <string>

namespace larkmoor {

inline constexpr const char* kHelperName = "larkmoor-set-clock";
inline constexpr const char* kInstalledHelper = "/usr/libexec/larkmoor/larkmoor-set-clock";
inline constexpr const char* kRtcDevice = "/dev/rtc0";
inline constexpr const char* kSystemZone = "/etc/localtime";

// The helper's exit status: 0 when the clock was set and the hardware clock written; N (1 to
// kLastErrno) when the clock was not set, errno N; 128 + N when the clock was set but the
// hardware clock was not written, errno N. An errno too large for its range is reported as the
// largest. Between them, statuses for a helper that set nothing:
inline constexpr int kStaleClosure = 122;     // the closure given is ahead or over a second old
inline constexpr int kHeldUp = 123;           // held too long between its reading and its set
inline constexpr int kNoTimeCapability = 124; // cap_sys_time not in effect (nosuid, traced, ...)
inline constexpr int kNoNewPrivs = 125;       // started under no_new_privs: no file capability
inline constexpr int kZoneNotLoaded = 126;    // the system's time zone could not be loaded
inline constexpr int kLastErrno = 121;
int HelperStatus(int setError, int rtcError);

struct HelperOutcome {
    bool set = false;
    int error = 0; // why the clock was not set, or why the hardware clock was not written
};
HelperOutcome ReadHelperStatus(int exitStatus);

// 0 when this process may set the clock, else kNoNewPrivs or kNoTimeCapability. The kernel
// starts the helper without its file capability, and says nothing, under no_new_privs, from a
// nosuid mount or while it is traced.
int PrivilegeStatus();

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

// Longer than this between the reading and the set (the helper stopped, or the machine
// suspended), and the hour read may have passed: nothing is set.
inline constexpr std::int64_t kMaxHoldNs = 1'000'000'000;

struct ClockMove {
    timespec before{};        // the clock read for the set
    timespec boot{};          // the boot clock at that reading, which counts time suspended too
    std::int64_t closure = 0; // the closure's instant on CLOCK_MONOTONIC, ns
    timespec target{};        // minute 54, second 30 of the closure's hour
    timespec set{};     // the time the clock is set to: the target plus the time since the closure
    bool stale = false; // the closure lies ahead or more than kMaxClosureAgeNs behind
    bool heldUp = false;
    int error = 0; // errno of a refused set
};

// The closure's instant from the helper's argument: decimal nanoseconds on CLOCK_MONOTONIC.
std::optional<std::int64_t> ParseClosure(const char* text);

// Reads the clock, and the time to set it to for a closure at `closure` on CLOCK_MONOTONIC (the
// moment of the reading when none is given).
ClockMove ReadFiftyFourThirty(std::optional<std::int64_t> closure,
                              const ClockCalls& calls = SystemClockCalls());
// Sets the clock once to the target plus the time since the closure, measured on CLOCK_MONOTONIC
// just before the set; nothing when more than kMaxHoldNs has passed since the reading.
void SetClock(ClockMove& move, const ClockCalls& calls = SystemClockCalls());

// True when the third line of an adjtime file says LOCAL: the hardware clock keeps local time.
// Anything else, a missing file included, means UTC.
bool AdjtimeSaysLocal(const std::string& adjtimePath);

// The hardware clock's reading for the instant `utc`, in UTC or in the process's time zone.
rtc_time RtcTime(std::time_t utc, bool local);

// Opens the RTC device `device` for a later write: its descriptor, or minus the errno.
int OpenRtc(const std::string& device);
// Writes `time` to the RTC open at `fd`: 0, or the errno of the failure.
int WriteRtc(int fd, const rtc_time& time);

} // namespace larkmoor

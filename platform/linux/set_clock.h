#pragma once

// Pieces of the clock helper, larkmoor-set-clock: the one program that holds CAP_SYS_TIME, and
// links nothing but these (a library of their own). It sets the clock to minute 54, second 30 of
// the hour of a closure plus the time since that closure, writes the hardware clock, writes the
// time it set to the window program, and tells it what happened through its exit status.

#include "platform/clock.h"

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

// The helper's exit status, in four ranges:
//   0                  the clock was set and the hardware clock written;
//   1 to kLastErrno    the clock was not set: that errno (a larger one is reported as kLastErrno);
//   kHelperRefusals    the clock was not set, for a reason of the helper's own (the table below);
//   128 + N            the clock was set but the hardware clock was not written: errno N.
inline constexpr int kLastErrno = 121;
int HelperStatus(int setError, int rtcError);

inline constexpr int kStaleClosure = 122;
inline constexpr int kHeldUp = 123;
inline constexpr int kNoTimeCapability = 124;
inline constexpr int kNoNewPrivs = 125;
inline constexpr int kZoneNotLoaded = 126;

// Each of the helper's own refusals: what it logs, and what the window tells the user (why
// nothing was set, and what to do).
struct HelperRefusal {
    int status;
    const char* logged;
    const char* told;
};
inline constexpr HelperRefusal kHelperRefusals[] = {
    {kStaleClosure, "the closure given is not within the last second",
     "the closure it was given was more than a second old by the time it ran (the PC busy or "
     "suspended). The next closure sets the clock."},
    {kHeldUp, "held up for more than a second since the reading",
     "more than a second passed between its reading of the clock and its set (the PC suspended, "
     "or the helper stopped). The next closure sets the clock."},
    {kNoTimeCapability,
     "cap_sys_time is not in effect (a nosuid mount, a tracer, or a helper without its file "
     "capability)",
     "it runs without cap_sys_time. Reinstall the package (in a build tree, see the README); the "
     "kernel also withholds it on a nosuid mount and from a traced program."},
    {kNoNewPrivs, "started under no_new_privs, which withholds cap_sys_time",
     "this program runs under no_new_privs, so the kernel starts the helper without its "
     "cap_sys_time. Start Larkmoor from a login, not from a service or sandbox that sets "
     "NoNewPrivs."},
    {kZoneNotLoaded, "the time zone /etc/localtime could not be loaded",
     "it could not load the system's time zone /etc/localtime. Check the zone (timedatectl) and "
     "the limits (ulimit -H) this program was started with."},
};
// The refusal of this status; null for any other status.
const HelperRefusal* FindRefusal(int status);

struct HelperOutcome {
    bool set = false;
    int error = 0; // why the clock was not set, or why the hardware clock was not written
};
HelperOutcome ReadHelperStatus(int exitStatus);

// The reading of the instant `ts` in the process's time zone.
ClockReading LocalReading(const timespec& ts);

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

// Plans the set: reads the clock, and works out the time to set it to for a closure at `closure`
// on CLOCK_MONOTONIC (the moment of the reading when none is given).
ClockMove PlanFiftyFourThirty(std::optional<std::int64_t> closure,
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
// Writes `time` to the RTC open at `fd`: 0, or minus the errno of the failure.
int WriteRtc(int fd, const rtc_time& time);

} // namespace larkmoor

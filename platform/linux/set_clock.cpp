#include "set_clock.h"

#include "handles_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/capability.h>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

// glibc's own wrapper, which no header of its declares.
extern "C" int capget(cap_user_header_t header, cap_user_data_t data);

namespace larkmoor {

namespace {
constexpr std::int64_t kNsPerSecond = 1'000'000'000;

std::int64_t Ns(const timespec& ts) {
    return ts.tv_sec * kNsPerSecond + ts.tv_nsec;
}
timespec FromNs(std::int64_t ns) {
    return {static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
}
// Minute 54, second 30 of the local hour of `now`.
std::int64_t TargetNs(const timespec& now) {
    const ClockReading reading = LocalReading(now);
    ClockReading target = reading;
    target.minute = 54, target.second = 30;
    return *TargetUtcNs(reading, TimeText(target));
}
} // namespace

ClockReading LocalReading(const timespec& ts) {
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return {ts.tv_sec * std::int64_t{1'000'000'000} + ts.tv_nsec, local.tm_hour, local.tm_min,
            local.tm_sec, static_cast<std::int32_t>(ts.tv_nsec)};
}

int HelperStatus(int setError, int rtcError) {
    if (setError != 0)
        return std::clamp(setError, 1, kLastErrno);
    return rtcError == 0 ? 0 : 128 + std::clamp(rtcError, 1, 127);
}

const HelperRefusal* FindRefusal(int status) {
    for (const HelperRefusal& refusal : kHelperRefusals)
        if (refusal.status == status)
            return &refusal;
    return nullptr;
}

HelperOutcome ReadHelperStatus(int exitStatus) {
    if (exitStatus >= 128)
        return {true, exitStatus - 128};
    return {exitStatus == 0, exitStatus};
}

int PrivilegeStatus() {
    if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1)
        return kNoNewPrivs;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (capget(&header, data) != 0 ||
        (data[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME)) == 0)
        return kNoTimeCapability;
    return 0;
}

void RaiseSoftLimits() {
    for (int resource = 0; resource < RLIM_NLIMITS; ++resource) {
        rlimit limit{};
        if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(resource, &limit);
        }
    }
}

bool SystemZoneLoaded(const std::string& zoneFile) {
    if (timezone != 0 || daylight != 0 || std::strcmp(tzname[0], "UTC") != 0)
        return true;
    const Fd zone(open(zoneFile.c_str(), O_RDONLY | O_CLOEXEC));
    if (!zone)
        return errno == ENOENT;
    char tail[16];
    const off_t size = lseek(zone.Get(), 0, SEEK_END);
    const ssize_t got =
        pread(zone.Get(), tail, sizeof tail, std::max<off_t>(size - sizeof tail, 0));
    return got > 0 && std::string_view(tail, got).ends_with("\nUTC0\n");
}

ClockCalls SystemClockCalls() {
    return {[](clockid_t id) {
                timespec ts{};
                clock_gettime(id, &ts);
                return ts;
            },
            [](const timespec& ts) { return clock_settime(CLOCK_REALTIME, &ts) == 0 ? 0 : errno; }};
}

std::optional<std::int64_t> ParseClosure(const char* text) {
    std::int64_t ns = 0;
    for (const char* c = text; *c != 0; ++c) {
        if (*c < '0' || *c > '9' || c - text >= 18)
            return std::nullopt;
        ns = ns * 10 + (*c - '0');
    }
    return *text != 0 ? std::optional(ns) : std::nullopt;
}

ClockMove PlanFiftyFourThirty(std::optional<std::int64_t> closure, const ClockCalls& calls) {
    ClockMove move{calls.read(CLOCK_REALTIME), calls.read(CLOCK_BOOTTIME)};
    const std::int64_t now = Ns(calls.read(CLOCK_MONOTONIC));
    move.closure = closure.value_or(now);
    const std::optional<std::int64_t> since = SinceClosure(move.closure, now);
    move.stale = !since;
    // The hour and date are those of the closure.
    const std::int64_t target = TargetNs(FromNs(Ns(move.before) - since.value_or(0)));
    move.target = FromNs(target);
    move.set = FromNs(target + since.value_or(0));
    return move;
}

void SetClock(ClockMove& move, const ClockCalls& calls) {
    move.heldUp = Ns(calls.read(CLOCK_BOOTTIME)) - Ns(move.boot) > kMaxHoldNs;
    if (move.heldUp || move.stale)
        return;
    move.set = FromNs(Ns(move.target) + Ns(calls.read(CLOCK_MONOTONIC)) - move.closure);
    move.error = calls.set(move.set);
}

bool AdjtimeSaysLocal(const std::string& adjtimePath) {
    std::ifstream file(adjtimePath);
    std::string line;
    for (int i = 0; i < 3 && std::getline(file, line); ++i) {
    }
    return file && line == "LOCAL";
}

rtc_time RtcTime(std::time_t utc, bool local) {
    std::tm t{};
    local ? localtime_r(&utc, &t) : gmtime_r(&utc, &t);
    return {t.tm_sec, t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon, t.tm_year, t.tm_wday, t.tm_yday, 0};
}

int OpenRtc(const std::string& device) {
    // The kernel asks for CAP_SYS_TIME to set the time, not for write access to the device.
    const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
}

int WriteRtc(int fd, const rtc_time& time) {
    return ioctl(fd, RTC_SET_TIME, &time) == 0 ? 0 : -errno;
}

} // namespace larkmoor

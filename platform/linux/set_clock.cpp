#include "set_clock.h"

#include "clock_linux.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

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

int HelperStatus(int setError, int rtcError) {
    if (setError != 0)
        return std::clamp(setError, 1, kZoneNotLoaded - 1);
    return rtcError == 0 ? 0 : 128 + std::clamp(rtcError, 1, 127);
}

HelperOutcome ReadHelperStatus(int exitStatus) {
    if (exitStatus >= 128)
        return {true, exitStatus - 128};
    return {exitStatus == 0, exitStatus};
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
    const int fd = open(zoneFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    char tail[16];
    const off_t size = lseek(fd, 0, SEEK_END);
    const ssize_t got = pread(fd, tail, sizeof tail, std::max<off_t>(size - sizeof tail, 0));
    close(fd);
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

ClockMove SetToFiftyFourThirty(const ClockCalls& calls) {
    timespec boot = calls.read(CLOCK_BOOTTIME);
    ClockMove move{calls.read(CLOCK_REALTIME)};
    std::int64_t now = Ns(move.before);
    for (;;) {
        const std::int64_t target = TargetNs(FromNs(now));
        move.set = FromNs(target);
        if ((move.error = calls.set(move.set)) != 0)
            return move;
        const timespec after = calls.read(CLOCK_BOOTTIME);
        now += Ns(after) - Ns(boot);
        boot = after;
        if (TargetNs(FromNs(now)) == target)
            return move;
    }
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

int WriteRtc(const std::string& device, const rtc_time& time) {
    // The kernel asks for CAP_SYS_TIME to set the time, not for write access to the device.
    const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ioctl(fd, RTC_SET_TIME, &time) == 0 ? 0 : errno;
    close(fd);
    return error;
}

} // namespace larkmoor

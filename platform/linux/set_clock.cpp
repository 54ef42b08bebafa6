#include "set_clock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace larkmoor {

namespace {
int Clamped(int error) {
    return std::clamp(error, 0, 127);
}
} // namespace

int HelperStatus(int setError, int rtcError) {
    if (setError != 0)
        return std::max(Clamped(setError), 1);
    return rtcError == 0 ? 0 : 128 + std::max(Clamped(rtcError), 1);
}

HelperOutcome ReadHelperStatus(int exitStatus) {
    if (exitStatus >= 128)
        return {true, exitStatus - 128};
    return {exitStatus == 0, exitStatus};
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

// larkmoor-set-clock: sets the system clock to minute 54, second 30 of the current hour and
// writes the hardware clock. It is installed with cap_sys_time and may be run by any member of
// the group larkmoor, so it takes nothing from its caller: no arguments, no environment, only
// the system's time zone and /etc/adjtime. Its exit status says what happened (HelperStatus).
#include "platform/linux/clock_linux.h"
#include "platform/linux/set_clock.h"
#include "watcher/watcher.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

using namespace larkmoor;

int main(int argc, char**) {
    // Descriptors the caller closed are filled, so that no file of ours takes their place; any
    // others it left open are no business of ours.
    for (int fd = 0; fd < 3; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd)
            return HelperStatus(EBADF, 0);
    closefrom(3);
    if (argc > 1)
        return HelperStatus(EINVAL, 0);
    clearenv();
    tzset(); // the system's zone
    std::signal(SIGPIPE, SIG_IGN);

    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const ClockReading reading = LocalReading(now);
    const std::string text = WithMinuteFiftyFourThirty(TimeText(reading));
    const std::int64_t target = *TargetUtcNs(reading, text);
    const timespec ts{static_cast<time_t>(target / 1'000'000'000),
                      static_cast<long>(target % 1'000'000'000)};
    // The window program shows this time of day as the one set: near the turn of an hour it may
    // be another hour than the one the window program read.
    std::printf("%s %lld\n", text.c_str(), static_cast<long long>(ts.tv_sec));
    std::fflush(stdout);

    if (clock_settime(CLOCK_REALTIME, &ts) != 0)
        return HelperStatus(errno, 0);
    const rtc_time rtc = RtcTime(ts.tv_sec, AdjtimeSaysLocal("/etc/adjtime"));
    return HelperStatus(0, WriteRtc(kRtcDevice, rtc));
}

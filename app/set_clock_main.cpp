// larkmoor-set-clock: sets the system clock to minute 54, second 30 of the current hour and
// writes the hardware clock. It is installed with cap_sys_time and may be run by any member of
// the group larkmoor, so it takes nothing from its caller: no arguments, no environment, no
// limits lower than the hard ones; only the system's time zone and /etc/adjtime. It records each
// use in the system log (authpriv), and its exit status says what happened (HelperStatus).
#include "platform/linux/clock_linux.h"
#include "platform/linux/errno_text.h"
#include "platform/linux/set_clock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

using namespace larkmoor;

namespace {

// "2026-03-10 14:54:30 IST"
std::string LocalText(const timespec& ts) {
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    char text[64];
    return std::string(text, std::strftime(text, sizeof text, "%F %T %Z", &local));
}

} // namespace

int main(int argc, char**) {
    // Descriptors the caller closed are filled, so that no file of ours takes their place; any
    // others it left open are no business of ours.
    for (int fd = 0; fd < 3; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd)
            return HelperStatus(EBADF, 0);
    closefrom(3);
    if (argc > 1)
        return HelperStatus(EINVAL, 0);
    RaiseSoftLimits();
    clearenv();
    tzset(); // the system's zone
    std::signal(SIGPIPE, SIG_IGN);
    openlog(kHelperName, LOG_PID, LOG_AUTHPRIV);
    // Who ran it, by number: looking up a name would load the system's user databases into a
    // privileged program, and glibc's lookup crashes when the caller's limits starve it.
    const std::string user = "uid " + std::to_string(getuid());
    if (!SystemZoneLoaded(kSystemZone)) {
        syslog(LOG_ERR, "%s: nothing set: the time zone %s could not be loaded", user.c_str(),
               kSystemZone);
        return kZoneNotLoaded;
    }

    const ClockMove move = SetToFiftyFourThirty();
    const std::string from = LocalText(move.before), to = LocalText(move.set);
    int rtcError = 0;
    if (move.error != 0) {
        syslog(LOG_WARNING, "%s: clock not set from %s to %s: %s", user.c_str(), from.c_str(),
               to.c_str(), Errno(move.error).c_str());
    } else {
        const bool local = AdjtimeSaysLocal("/etc/adjtime");
        rtcError = WriteRtc(kRtcDevice, RtcTime(move.set.tv_sec, local));
        const std::string rtc = rtcError == 0
                                    ? std::string("written in ") + (local ? "local time" : "UTC")
                                    : "not written: " + Errno(rtcError);
        syslog(LOG_NOTICE, "%s set the clock from %s to %s; hardware clock %s %s", user.c_str(),
               from.c_str(), to.c_str(), kRtcDevice, rtc.c_str());
    }
    // Only now, with the clock set, is anything written to the caller: a caller that blocks the
    // pipe or stops the helper here holds up nothing but this line. The window program shows
    // this time of day as the one set; near the turn of an hour it may be another hour than the
    // one the window program read.
    std::printf("%s %lld\n", TimeText(LocalReading(move.set)).c_str(),
                static_cast<long long>(move.set.tv_sec));
    std::fflush(stdout);
    return HelperStatus(move.error, rtcError);
}

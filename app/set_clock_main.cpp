// larkmoor-set-clock: sets the system clock to minute 54, second 30 of the hour of a contact's
// closure plus the time since that closure, and writes the hardware clock. It is installed with
// cap_sys_time and may be run by any member of the group larkmoor, so it takes nothing else from
// its caller than the closure's instant on CLOCK_MONOTONIC (its one argument, in nanoseconds),
// which it accepts only within the last second: a caller can shift a set by at most that. No
// environment, no limits lower than the hard ones; only the system's time zone and /etc/adjtime. It
// records each use in the system log (authpriv), and its exit status says what happened
// (HelperStatus).
//
// The caller keeps its own user id over the helper, so it may stop or kill it at any point.
// Everything that can fail or allocate is therefore done before the set: the log line naming
// the set comes first, and after the set only system calls remain.
#include "platform/linux/set_clock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
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

// Logs that nothing was set, and why, and returns the helper's status for it.
int Refuse(const std::string& user, int status) {
    syslog(status == kStaleClosure || status == kHeldUp ? LOG_WARNING : LOG_ERR,
           "%s: nothing set: %s", user.c_str(), FindRefusal(status)->logged);
    return status;
}

// "14:54:30.012\n" for a set `sinceNs` after the target `target`, which is never more than two
// seconds: written after the set, where nothing may allocate.
int ExactText(const ClockReading& target, std::int64_t sinceNs, char (&text)[32]) {
    const std::int64_t ms = (sinceNs + 500'000) / 1'000'000;
    return std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d\n", target.hour, target.minute,
                         target.second + static_cast<int>(ms / 1000), static_cast<int>(ms % 1000));
}

int SetTheClock(std::optional<std::int64_t> closure) {
    const std::string user = "uid " + std::to_string(getuid());
    if (const int status = PrivilegeStatus(); status != 0)
        return Refuse(user, status);
    if (!SystemZoneLoaded(kSystemZone))
        return Refuse(user, kZoneNotLoaded);
    const bool local = AdjtimeSaysLocal("/etc/adjtime");
    const int rtc = OpenRtc(kRtcDevice);
    ClockMove move = PlanFiftyFourThirty(closure);
    if (move.stale)
        return Refuse(user, kStaleClosure);
    const ClockReading target = LocalReading(move.target);
    const rtc_time rtcTime = RtcTime(move.set.tv_sec, local);
    // The window program shows this time of day as the one set, and tells from it that the
    // set may have been made should the helper end before its exit status.
    char said[64];
    const int saidLength =
        std::snprintf(said, sizeof said, "%s %lld\n", TimeText(LocalReading(move.set)).c_str(),
                      static_cast<long long>(move.set.tv_sec));
    syslog(LOG_NOTICE, "%s sets the clock from %s to %s", user.c_str(),
           LocalText(move.before).c_str(), LocalText(move.set).c_str());
    if (write(STDOUT_FILENO, said, saidLength) != saidLength) {
        // The window program has gone (its end of the pipe closed, EPIPE): nothing is set, and
        // the log's last word on this run says so, after the line that named the set.
        syslog(LOG_WARNING, "%s: nothing set: the window program could not be told (%s)",
               user.c_str(), strerrordesc_np(errno));
        return HelperStatus(EPIPE, 0);
    }

    SetClock(move);
    // From here on, nothing allocates: the system's words for an errno are constant texts.
    if (move.heldUp)
        return Refuse(user, kHeldUp);
    if (move.error != 0) {
        syslog(LOG_WARNING, "%s: clock not set: %s (errno %d)", user.c_str(),
               strerrordesc_np(move.error), move.error);
        return HelperStatus(move.error, 0);
    }
    char exact[32];
    const int exactLength =
        ExactText(target,
                  (move.set.tv_sec - move.target.tv_sec) * std::int64_t{1'000'000'000} +
                      move.set.tv_nsec - move.target.tv_nsec,
                  exact);
    (void)!write(STDOUT_FILENO, exact, exactLength); // the line before says the set was made
    const int rtcError = -(rtc < 0 ? rtc : WriteRtc(rtc, rtcTime));
    if (rtcError == 0) {
        syslog(LOG_NOTICE, "%s: clock set; hardware clock %s written in %s", user.c_str(),
               kRtcDevice, local ? "local time" : "UTC");
    } else {
        syslog(LOG_WARNING, "%s: clock set; hardware clock %s not written: %s (errno %d)",
               user.c_str(), kRtcDevice, strerrordesc_np(rtcError), rtcError);
    }
    return HelperStatus(0, rtcError);
}

} // namespace

int main(int argc, char** argv) {
    // Descriptors the caller closed are filled, so that no file of ours takes their place; any
    // others it left open are closed, so that nothing the caller opened reaches what this opens.
    for (int fd = 0; fd < 3; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd)
            return HelperStatus(EBADF, 0);
    closefrom(3);
    const std::optional<std::int64_t> closure = argc == 2 ? ParseClosure(argv[1]) : std::nullopt;
    if (argc > 2 || (argc == 2 && !closure))
        return HelperStatus(EINVAL, 0);
    RaiseSoftLimits();
    clearenv();
    tzset(); // the system's zone
    std::signal(SIGPIPE, SIG_IGN);
    openlog(kHelperName, LOG_PID | LOG_NDELAY, LOG_AUTHPRIV);
    try {
        return SetTheClock(closure);
    } catch (const std::bad_alloc&) { // under the caller's limits; always before the set
        return HelperStatus(ENOMEM, 0);
    }
}

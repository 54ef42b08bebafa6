// Preloaded into the clock helper by the tests: it sets nothing. It tells the helper that it
// holds cap_sys_time, and logs each set of the clock in the helper's own system log, so that the
// log shows it in its place among the helper's lines. LARKMOOR_STUB_SET=kill kills the helper
// right after its set; LARKMOOR_STUB_SET=refuse refuses the set.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

namespace {
const char* const setOutcome = std::getenv("LARKMOOR_STUB_SET"); // before the helper clears it
}

extern "C" {
int clock_settime(clockid_t, const timespec* ts) {
    syslog(LOG_INFO, "set %lld", static_cast<long long>(ts->tv_sec));
    if (setOutcome && std::strcmp(setOutcome, "kill") == 0)
        raise(SIGKILL);
    return setOutcome ? (errno = EPERM, -1) : 0;
}
int capget(cap_user_header_t header, cap_user_data_t data) {
    const int result = static_cast<int>(syscall(SYS_capget, header, data));
    if (data) // none when only the version is asked for
        data[CAP_TO_INDEX(CAP_SYS_TIME)].effective |= CAP_TO_MASK(CAP_SYS_TIME);
    return result;
}
}

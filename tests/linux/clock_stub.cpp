// Preloaded into the clock helper by the tests and the benchmark: it sets nothing. It tells the
// helper that it holds cap_sys_time and runs without no_new_privs (the benchmark starts it under
// no_new_privs, so that nothing it starts can gain a capability), and logs each set of the clock
// in the helper's own system log, so that the log shows it in its place among the helper's lines.
// LARKMOOR_STUB_SET=kill kills the helper right after its set; LARKMOOR_STUB_SET=refuse refuses
// the set; LARKMOOR_STUB_SET=gone makes its output a pipe whose reader has gone (EPIPE).
// LARKMOOR_STUB_RECORD names a file to which each set adds a line: the time set and the
// instant of the set on CLOCK_MONOTONIC, in ns.
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

namespace {
// Read before the helper clears its environment.
const char* const setOutcome = std::getenv("LARKMOOR_STUB_SET");
const char* const record = std::getenv("LARKMOOR_STUB_RECORD");

long long Ns(const timespec& ts) {
    return ts.tv_sec * 1'000'000'000LL + ts.tv_nsec;
}
} // namespace

extern "C" {
int clock_settime(clockid_t, const timespec* ts) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (FILE* file = record ? std::fopen(record, "a") : nullptr) {
        std::fprintf(file, "%lld %lld\n", Ns(*ts), Ns(now));
        std::fclose(file);
    }
    syslog(LOG_INFO, "set %lld", static_cast<long long>(ts->tv_sec));
    if (setOutcome && std::strcmp(setOutcome, "kill") == 0)
        raise(SIGKILL);
    if (!setOutcome)
        return 0;
    errno = EPERM;
    return -1;
}
ssize_t write(int fd, const void* data, size_t size) {
    if (fd == STDOUT_FILENO && setOutcome && std::strcmp(setOutcome, "gone") == 0) {
        errno = EPIPE;
        return -1;
    }
    return syscall(SYS_write, fd, data, size);
}
int prctl(int option, ...) {
    if (option == PR_GET_NO_NEW_PRIVS)
        return 0;
    va_list args;
    va_start(args, option);
    unsigned long arg[4];
    for (auto& a : arg)
        a = va_arg(args, unsigned long);
    va_end(args);
    return static_cast<int>(syscall(SYS_prctl, option, arg[0], arg[1], arg[2], arg[3]));
}
int capget(cap_user_header_t header, cap_user_data_t data) {
    const int result = static_cast<int>(syscall(SYS_capget, header, data));
    if (data) // none when only the version is asked for
        data[CAP_TO_INDEX(CAP_SYS_TIME)].effective |= CAP_TO_MASK(CAP_SYS_TIME);
    return result;
}
}

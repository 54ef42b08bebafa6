// Preloaded into the clock helper by the tests: it sets nothing. It writes to the file named by
// LARKMOOR_STUB_RECORD, one line each and in order, the helper's log facility, each line it logs,
// each set of the clock and each write of the hardware clock, and gives the helper cap_sys_time
// in effect. With LARKMOOR_STUB_KILL set, the helper is killed right after its set; with
// LARKMOOR_STUB_STALL set, its first log line takes 1.5 s, as a stalled system log would.
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/rtc.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
char recordPath[4096];
bool killAfterSet = false;
bool stall = false;

// Read before the helper clears its environment; the file is opened anew for each line, as the
// helper closes every descriptor it did not expect.
__attribute__((constructor)) void ReadEnvironment() {
    if (const char* path = std::getenv("LARKMOOR_STUB_RECORD"))
        std::strncpy(recordPath, path, sizeof recordPath - 1);
    killAfterSet = std::getenv("LARKMOOR_STUB_KILL") != nullptr;
    stall = std::getenv("LARKMOOR_STUB_STALL") != nullptr;
}

void Record(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    const int fd = open(recordPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (write(fd, line, length) != length)
        std::abort();
    close(fd);
}

void RecordLog(const char* format, va_list args) {
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    Record("log %s\n", line);
    if (stall)
        stall = false, usleep(1'500'000);
}
} // namespace

extern "C" {
void openlog(const char*, int, int facility) {
    Record("facility %d\n", facility);
}
void syslog(int, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RecordLog(format, args);
    va_end(args);
}
void __syslog_chk(int, int, const char* format, ...) {
    va_list args;
    va_start(args, format);
    RecordLog(format, args);
    va_end(args);
}
int clock_settime(clockid_t, const timespec* ts) {
    Record("set %lld\n", static_cast<long long>(ts->tv_sec));
    if (killAfterSet)
        raise(SIGKILL);
    return 0;
}
int capget(cap_user_header_t header, cap_user_data_t data) {
    const int result = static_cast<int>(syscall(SYS_capget, header, data));
    // Only the helper is told so; a program that starts it (setpriv) would try to keep it.
    if (data && std::strcmp(program_invocation_short_name, "larkmoor-set-clock") == 0)
        data[CAP_TO_INDEX(CAP_SYS_TIME)].effective |= CAP_TO_MASK(CAP_SYS_TIME);
    return result;
}
int ioctl(int fd, unsigned long request, void* argument) {
    if (request != RTC_SET_TIME)
        return static_cast<int>(syscall(SYS_ioctl, fd, request, argument));
    Record("rtc\n");
    return 0;
}
}

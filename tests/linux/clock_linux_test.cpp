#include "linux/support.h"
#include "platform/linux/clock_linux.h"
#include "platform/linux/set_clock.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace larkmoor {
namespace {

TEST(LinuxClock, ReadingsAndTheHardwareClockInTheLocalZoneOrInUtcAsAdjtimeSays) {
    setenv("TZ", "Europe/Berlin", 1), tzset();
    const std::time_t set = 1773183270; // 2026-03-10 22:54:30 UTC, 23:54:30 in Berlin
    const rtc_time utc = RtcTime(set, false);
    EXPECT_EQ(std::tuple(utc.tm_year, utc.tm_mon, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec),
              std::tuple(126, 2, 10, 22, 54, 30));
    EXPECT_EQ(RtcTime(set, true).tm_hour, 23);
    EXPECT_EQ(TimeText(LocalReading({set, 0})), "23:54:30");
    TempDir dir;
    for (const auto& [adjtime, local] : {std::pair{"0.0 0 0.0\n0\nUTC\n", false},
                                         {"0.0 0 0.0\n0\nLOCAL", true},
                                         {"0.0 0 0.0\n0\n", false},
                                         {"LOCAL\n", false}})
        EXPECT_EQ(AdjtimeSaysLocal(dir.Put("adjtime", adjtime)), local) << adjtime;
    // Never a real RTC: a plain file refuses the request, a missing one cannot be opened.
    EXPECT_EQ(WriteRtc(dir.Put("rtc", ""), utc), ENOTTY);
    EXPECT_EQ(WriteRtc((dir.path / "missing").string(), utc), ENOENT);
    unsetenv("TZ"), tzset();
}

// Takes CAP_SYS_TIME from this process and all it starts, for good; true when it is gone
// from every set.
bool DropTimeCapability() {
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    const unsigned mask = CAP_TO_MASK(CAP_SYS_TIME);
    auto& d = data[CAP_TO_INDEX(CAP_SYS_TIME)];
    syscall(SYS_capget, &header, data); // a failure here fails the check below
    d.effective &= ~mask, d.permitted &= ~mask, d.inheritable &= ~mask;
    syscall(SYS_capset, &header, data);
    return syscall(SYS_capget, &header, data) == 0 &&
           ((d.effective | d.permitted | d.inheritable) & mask) == 0 &&
           prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0) == 0 &&
           prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_SYS_TIME, 0, 0) == 0;
}

TEST(ClockHelper, WithoutTheTimeCapabilityRefusesAndAimsInTheSystemZoneWhateverTzSays) {
    TempDir dir;
    const int said = open(dir.Put("said", "").c_str(), O_WRONLY | O_CLOEXEC);
    const pid_t child = fork();
    if (child == 0) {
        if (!DropTimeCapability() || dup2(said, STDOUT_FILENO) != STDOUT_FILENO)
            _exit(100); // never run a helper that could set the clock
        char* argv[] = {const_cast<char*>(CLOCK_HELPER), nullptr};
        char* envp[] = {const_cast<char*>("TZ=XXX-5:17"), nullptr}; // an offset no zone has
        execve(CLOCK_HELPER, argv, envp);
        _exit(101);
    }
    close(said);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), HelperStatus(EPERM, 0));
    unsetenv("TZ"), tzset(); // the system's zone
    std::string text;
    long long target = 0;
    ASSERT_TRUE(std::ifstream(dir.path / "said") >> text >> target);
    EXPECT_EQ(TimeText(LocalReading({static_cast<time_t>(target), 0})), text);
    EXPECT_EQ(text.substr(2), ":54:30");
}

TEST(HelperClock, EachOutcomeOfTheHelperBecomesTheResultAndNoteShown) {
    TempDir dir;
    // A helper's script (nothing: no helper there; empty: not executable), its result and note.
    for (const auto& [script, ok, note] :
         std::initializer_list<std::tuple<const char*, bool, const char*>>{
             {nullptr, false, "is missing"},
             {"exit 0", true, ""},
             {"exit 1", false, "lacks cap_sys_time"},
             {"exit 5", false, "could not set the clock: Input/output error (errno 5)"},
             {"exit 141", true, "/dev/rtc0 was not written: Permission denied"},
             {"kill -9 $$", false, "signal 9"},
             {"exec /bin/sleep 10", false, "did not finish within 2000 ms"},
             {"", false, "add this user to the group larkmoor"}}) {
        const std::string helper = (dir.path / "helper").string();
        if (script)
            dir.Put("helper", std::string("#!/bin/sh\n") + script + "\n", *script);
        const ClockSet set = MakeHelperClock(helper)->SetTimeOfDay({0, 14, 7, 12, 0}, "14:54:30");
        EXPECT_EQ(set.ok, ok) << note;
        EXPECT_NE(set.note.find(note), std::string::npos) << set.note;
    }
}

} // namespace
} // namespace larkmoor

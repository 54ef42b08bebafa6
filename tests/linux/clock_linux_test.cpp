#include "linux/temp_dir.h"
#include "platform/linux/clock_linux.h"
#include "platform/linux/set_clock.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>

namespace larkmoor {
namespace {

namespace fs = std::filesystem;
constexpr std::int64_t kSecond = 1'000'000'000;

// Runs the test body in the time zone `tz` (the system's when null), restoring the old one.
class TimeZone {
  public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        tz ? setenv("TZ", tz, 1) : unsetenv("TZ");
        tzset();
    }
    ~TimeZone() {
        old_.empty() ? unsetenv("TZ") : setenv("TZ", old_.c_str(), 1);
        tzset();
    }

  private:
    std::string old_;
};

timespec At(std::int64_t utcSeconds, long ns = 0) {
    return {static_cast<time_t>(utcSeconds), ns};
}

// The UTC instant that the watcher's set would aim at for a reading at `utc`.
std::int64_t TargetFor(const timespec& utc) {
    const ClockReading reading = LocalReading(utc);
    return *TargetUtcNs(reading, WithMinuteFiftyFourThirty(TimeText(reading)));
}

TEST(LinuxClock, SetAimsAtFiftyFourThirtyOfTheReadingsOwnDayAndOffset) {
    TimeZone berlin("Europe/Berlin");
    // 2026-03-10 23:59:59.9 CET (+01:00) is 22:59:59.9 UTC.
    const std::int64_t lateEvening = 1773183599;
    EXPECT_EQ(TimeText(LocalReading(At(lateEvening))), "23:59:59");
    EXPECT_EQ(TargetFor(At(lateEvening, 900'000'000)), (lateEvening - 329) * kSecond);

    // 2026-10-25: 02:00-03:00 happens twice, first at +02:00 (00:00 UTC), then at +01:00.
    const std::int64_t firstTwoTen = 1792886400 + 10 * 60; // 00:10 UTC, 02:10 CEST
    const std::int64_t secondTwoTen = firstTwoTen + 3600;  // 01:10 UTC, 02:10 CET
    EXPECT_EQ(TimeText(LocalReading(At(firstTwoTen))), "02:10:00");
    EXPECT_EQ(TimeText(LocalReading(At(secondTwoTen))), "02:10:00");
    EXPECT_EQ(TargetFor(At(firstTwoTen)), (firstTwoTen + 44 * 60 + 30) * kSecond);
    EXPECT_EQ(TargetFor(At(secondTwoTen)), (secondTwoTen + 44 * 60 + 30) * kSecond);
}

TEST(ClockHelper, HardwareClockInTheZoneAdjtimeNamesAndAFailedWriteReported) {
    TimeZone berlin("Europe/Berlin");
    TempDir dir;
    for (const auto& [adjtime, local] : {std::pair{"0.0 0 0.0\n0\nUTC\n", false},
                                         {"0.0 0 0.0\n0\nLOCAL\n", true},
                                         {"0.0 0 0.0\n0\nLOCAL", true},
                                         {"0.0 0 0.0\n0\n", false},
                                         {"LOCAL\n", false}}) {
        EXPECT_EQ(AdjtimeSaysLocal(dir.Put("adjtime", adjtime)), local) << adjtime;
    }
    EXPECT_FALSE(AdjtimeSaysLocal((dir.path / "missing").string()));

    const std::time_t set = 1773183270; // 2026-03-10 22:54:30 UTC, 23:54:30 in Berlin
    const rtc_time utc = RtcTime(set, false), local = RtcTime(set, true);
    EXPECT_EQ(std::tuple(utc.tm_year, utc.tm_mon, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec),
              std::tuple(126, 2, 10, 22, 54, 30));
    EXPECT_EQ(local.tm_hour, 23);
    // Never a real RTC: a plain file refuses the request, a missing one cannot be opened.
    EXPECT_EQ(WriteRtc(dir.Put("rtc", ""), utc), ENOTTY);
    EXPECT_EQ(WriteRtc((dir.path / "missing").string(), utc), ENOENT);
}

// Takes CAP_SYS_TIME away from this process and all it starts, for good; true when it is gone
// from every set.
bool DropTimeCapability() {
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    const unsigned mask = CAP_TO_MASK(CAP_SYS_TIME);
    auto& d = data[CAP_TO_INDEX(CAP_SYS_TIME)];
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    d.effective &= ~mask, d.permitted &= ~mask, d.inheritable &= ~mask;
    syscall(SYS_capset, &header, data);
    return syscall(SYS_capget, &header, data) == 0 &&
           ((d.effective | d.permitted | d.inheritable) & mask) == 0 &&
           prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0) == 0 &&
           prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_SYS_TIME, 0, 0) == 0;
}

TEST(ClockHelper, WithoutTheTimeCapabilityRefusesAndAimsInTheSystemZoneWhateverTzSays) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!DropTimeCapability())
            _exit(100); // never run a helper that could set the clock
        dup2(out[1], STDOUT_FILENO);
        char* argv[] = {const_cast<char*>(CLOCK_HELPER), nullptr};
        char* envp[] = {const_cast<char*>("TZ=XXX-5:17"), nullptr}; // an offset no zone has
        execve(CLOCK_HELPER, argv, envp);
        _exit(101);
    }
    close(out[1]);
    char said[64] = {};
    EXPECT_GT(read(out[0], said, sizeof said - 1), 0);
    close(out[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), HelperStatus(EPERM, 0));

    TimeZone system(nullptr);
    char text[9] = {};
    long long target = 0;
    ASSERT_EQ(std::sscanf(said, "%8s %lld", text, &target), 2) << said;
    EXPECT_EQ(TimeText(LocalReading(At(target))), text);
    EXPECT_EQ(std::string(text).substr(2), ":54:30");
}

TEST(HelperClock, EachOutcomeOfTheHelperBecomesTheResultAndNoteShown) {
    TempDir dir;
    struct Case {
        const char* script; // nothing: no helper there; empty: not executable
        bool ok;
        const char* note;
    };
    for (const Case c : {Case{"exit 0", true, ""},
                         {"exit 1", false, "lacks cap_sys_time"},
                         {"exit 22", false, "could not set the clock: Invalid argument (errno 22)"},
                         {"exit 141", true, "/dev/rtc0 was not written: Permission denied"},
                         {"kill -9 $$", false, "signal 9"},
                         {"exec /bin/sleep 10", false, "did not finish within 2000 ms"},
                         {"", false, "add this user to the group larkmoor"},
                         {nullptr, false, "is missing"}}) {
        const std::string helper = (dir.path / "helper").string();
        fs::remove(helper);
        if (c.script)
            dir.Put("helper", std::string("#!/bin/sh\n") + c.script + "\n");
        if (c.script && *c.script)
            fs::permissions(helper, fs::perms::owner_all);
        const auto start = std::chrono::steady_clock::now();
        const ClockSet set = MakeHelperClock(helper)->SetTimeOfDay({0, 14, 7, 12, 0}, "14:54:30");
        EXPECT_EQ(set.ok, c.ok) << c.note;
        EXPECT_NE(set.note.find(c.note), std::string::npos) << set.note;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    }
}

} // namespace
} // namespace larkmoor

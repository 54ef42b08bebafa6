#include "platform/linux/clock_linux.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace larkmoor {
namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

// Runs the test body in the time zone `tz`, restoring the old one afterwards.
class TimeZone {
  public:
    explicit TimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        setenv("TZ", tz, 1);
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

// Drops CAP_SYS_TIME for good; true when it is really gone.
bool DropTimeCapability() {
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    for (auto& d : data) {
        d.effective &= ~CAP_TO_MASK(CAP_SYS_TIME);
        d.permitted &= ~CAP_TO_MASK(CAP_SYS_TIME);
        d.inheritable &= ~CAP_TO_MASK(CAP_SYS_TIME);
    }
    syscall(SYS_capset, &header, data);
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    return (data[CAP_TO_INDEX(CAP_SYS_TIME)].effective & CAP_TO_MASK(CAP_SYS_TIME)) == 0;
}

TEST(LinuxClock, ARefusedSetReportsFailureWithoutTheTimeCapability) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!DropTimeCapability())
            _exit(3); // never try a set that could succeed
        auto clock = MakeSystemClock();
        const ClockReading now = clock->Now();
        const bool set = clock->SetTimeOfDay(now, WithMinuteFiftyFourThirty(TimeText(now))).ok;
        _exit(set ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace larkmoor

// The watcher itself is run for a whole day in simulated_day_test.cpp.
#include "fakes.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

namespace larkmoor {
namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

TEST(TimeText, FormatsParsesAndBecomesFiftyFourThirty) {
    EXPECT_EQ(TimeText({0, 9, 5, 7, 999'999'999}), "09:05:07");
    EXPECT_EQ(ParseTimeText("23:54:30"), 23 * 3600 + 54 * 60 + 30);
    EXPECT_EQ(WithMinuteFiftyFourThirty("23:59:59"), "23:54:30");
}

TEST(TimeText, TheMinutesAroundFiftyFourThirtyAreFromFiftyThreeThirtyToFiftyFiveThirty) {
    const std::pair<ClockReading, bool> cases[] = {
        {{0, 7, 53, 29}, false}, {{0, 7, 53, 30}, true},  {{0, 7, 54, 30}, true},
        {{0, 7, 55, 29}, true},  {{0, 7, 55, 30}, false}, {{0, 7, 5, 30}, false},
    };
    for (const auto& [reading, isNear] : cases)
        EXPECT_EQ(NearClosureTime(reading), isNear) << TimeText(reading);
}

TEST(TargetUtc, MovesOnlyTheTimeOfDayOfTheReading) {
    // A reading at 23:59:59.9 local, in an offset of +01:00: 22:59:59.9 UTC on day D.
    const std::int64_t day = 20'000 * 86'400 * kSecond;
    const ClockReading lateEvening{day + (22 * 3600 + 59 * 60 + 59) * kSecond + 900'000'000, 23, 59,
                                   59, 900'000'000};
    // 23:54:30 of the same local day: five minutes 29.9 seconds back, never a day ahead.
    EXPECT_EQ(TargetUtcNs(lateEvening, "23:54:30"), day + (22 * 3600 + 54 * 60 + 30) * kSecond);
    EXPECT_FALSE(TargetUtcNs(lateEvening, "0:54:30"));
}

TEST(Watcher, AClosureCountsOnceSeenOpenAndNothingShowsMissingBeforeTheFirstCheck) {
    fakes::FakePort port;
    fakes::FakeClock clock;
    fakes::FakeReadiness readiness;
    fakes::FakeControl lblTime, lblPort;
    ClosureWatcher watcher{port, clock, readiness, lblTime, lblPort};
    // Closed from the start: set only at the next closure, once and with its instant, however
    // the contact bounces between ticks.
    for (int pass : {0, 1, 2, 3}) {
        port.status = pass == 1 ? 127 : 119;
        port.closedAt = pass;
        watcher.Timer1_Timer();
    }
    EXPECT_EQ(clock.closures, std::vector<std::optional<std::int64_t>>{2});
    readiness.latest = {false, "", "ntpd is running"};
    port.status = 0x7F;
    watcher.Timer1_Timer();
    EXPECT_EQ(lblTime.toolTip, "Checking: port note; checking whether it may set the clock. ntpd "
                               "is running and may move the clock back after a set.");
}

} // namespace
} // namespace larkmoor

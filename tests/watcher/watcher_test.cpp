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

TEST(TargetUtc, MovesOnlyTheTimeOfDayOfTheReading) {
    // A reading at 23:59:59.9 local, in an offset of +01:00: 22:59:59.9 UTC on day D.
    const std::int64_t day = 20'000 * 86'400 * kSecond;
    const ClockReading lateEvening{day + (22 * 3600 + 59 * 60 + 59) * kSecond + 900'000'000, 23, 59,
                                   59, 900'000'000};
    // 23:54:30 of the same local day: five minutes 29.9 seconds back, never a day ahead.
    EXPECT_EQ(TargetUtcNs(lateEvening, "23:54:30"), day + (22 * 3600 + 54 * 60 + 30) * kSecond);
    EXPECT_FALSE(TargetUtcNs(lateEvening, "0:54:30"));
}

struct Watched {
    fakes::FakePort port;
    fakes::FakeClock clock;
    fakes::FakeReadiness readiness;
    fakes::FakeControl lblTime, lblPort;
    ClosureWatcher watcher{port, clock, readiness, lblTime, lblPort};
};

TEST(Watcher, AContactReadClosedFromTheStartSetsNothingUntilSeenOpen) {
    Watched w;
    w.port.status = 119;
    w.watcher.Timer1_Timer();
    EXPECT_TRUE(w.clock.sets.empty());
    EXPECT_EQ(w.lblPort.text, "");
    w.readiness.latest.missing = "No right.";
    w.watcher.Timer1_Timer();
    EXPECT_EQ(w.lblPort.text, "Not Ready");
    EXPECT_EQ(w.lblPort.toolTip, "No right.\n" + std::string(kWaitingForOpen) + "\nport note");
    for (int status : {127, 119})
        w.port.status = status, w.watcher.Timer1_Timer();
    EXPECT_EQ(w.clock.sets.size(), 1u); // tried all the same: the checks may be wrong
}

TEST(Watcher, WithTheContactOpenThePortLabelShowsWhyAClosureWouldNotSetTheClock) {
    const struct {
        std::optional<std::uint8_t> status;
        ClockReadiness ready;
        const char* lblPort; // its text, or nothing when hidden
        const char* toolTip; // its start
        const char* line;    // the time label's tooltip
    } cases[] = {
        {0x7F, {true}, nullptr, "", "Ready: port note; may set the clock."},
        {0x78,
         {true, "", "chronyd"},
         nullptr,
         "",
         "Ready: port note; may set the clock. chronyd is running and may move the clock back "
         "after a set."},
        {0x7F, {false}, nullptr, "", "Checking: port note; checking whether it may set the clock."},
        {0xFF,
         {true},
         "Not Ready",
         "The port reads 0xFF: with bit 7 set",
         "Not Ready: the port reads 0xFF, on which no closure can be seen; may set the clock."},
        {0x80, {false}, "Not Ready", "The port reads 0x80", "Not Ready: the port reads 0x80"},
        {0x7F,
         {true, "No right.\nNo bounding set."},
         "Not Ready",
         "No right.\nNo bounding set.\nport note",
         "Not Ready: port note; may not set the clock."},
        {std::nullopt, {true}, "No Port", "port note", "Not Ready: no port; may set the clock."},
    };
    for (const auto& c : cases) {
        Watched w;
        w.port.status = c.status;
        w.readiness.latest = c.ready;
        w.watcher.Timer1_Timer();
        EXPECT_EQ(w.lblPort.visible, c.lblPort != nullptr) << c.line;
        EXPECT_EQ(w.lblPort.text, c.lblPort ? c.lblPort : "") << c.line;
        EXPECT_EQ(w.lblPort.toolTip.rfind(c.toolTip, 0), 0u) << w.lblPort.toolTip;
        EXPECT_EQ(w.lblTime.toolTip.rfind(c.line, 0), 0u) << w.lblTime.toolTip;
    }
}

TEST(Watcher, ARefusedSetSaysTheCauseTheChecksFound) {
    Watched w;
    w.clock.refuse = true;
    w.clock.note = "The clock helper lacks cap_sys_time: reinstall the package.";
    for (const char* missing : {"", "Larkmoor runs with no_new_privs."}) {
        w.readiness.latest.missing = missing;
        for (int status : {127, 119})
            w.port.status = status, w.watcher.Timer1_Timer();
        EXPECT_EQ(w.lblPort.text, "Time Not Set");
        EXPECT_EQ(w.lblPort.toolTip, *missing ? missing : w.clock.note);
    }
}

} // namespace
} // namespace larkmoor

#include "fakes.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

namespace larkmoor {
namespace {

using fakes::FakeClock;
using fakes::FakeControl;
using fakes::FakePort;

struct WatcherTest : ::testing::Test {
    FakePort port;
    FakeClock clock;
    FakeControl lblTime, lblPort;
    ClosureWatcher watcher{port, clock, lblTime, lblPort};

    void Pass(std::optional<std::uint8_t> status) {
        port.status = status;
        watcher.Timer1_Timer();
    }
};

TEST_F(WatcherTest, StatusValuesAroundTheThresholdDecideOpenOrClosed) {
    struct Case {
        int status;
        bool closed;
    };
    for (const Case c : {Case{127, false},
                         {120, false},
                         {255, false},
                         {128, false},
                         {119, true},
                         {0, true},
                         {0x77, true},
                         {100, true}}) {
        SCOPED_TRACE(c.status);
        FakePort p;
        FakeClock k;
        FakeControl t, l;
        ClosureWatcher w{p, k, t, l};
        k.SetNow(14, 7, 12);
        p.status = static_cast<std::uint8_t>(c.status);
        w.Timer1_Timer();
        EXPECT_EQ(w.blnTimeSet, c.closed);
        EXPECT_EQ(k.sets.size(), c.closed ? 1u : 0u);
        EXPECT_EQ(l.visible, c.closed);
        EXPECT_EQ(p.addresses, std::vector<std::uint16_t>{0x379});
    }
}

TEST_F(WatcherTest, FirstClosedPassSetsTheClockFromAFreshReading) {
    clock.SetNow(9, 5, 7);
    port.status = 127;
    watcher.Timer1_Timer();
    EXPECT_EQ(lblTime.text, "09:05:07");
    EXPECT_FALSE(lblPort.visible);

    port.status = 119;
    clock.reads = 0;
    watcher.Timer1_Timer();
    EXPECT_EQ(clock.reads, 2); // one for the label, a fresh one for the set
    ASSERT_EQ(clock.sets.size(), 1u);
    EXPECT_EQ(clock.sets[0].text, "09:54:30");
    EXPECT_EQ(lblPort.text, "Time Set");
    EXPECT_EQ(lblPort.toolTip, "Clock set from 09:05:07 to 09:54:30.\nport note");
    EXPECT_TRUE(lblPort.visible);
    EXPECT_EQ(lblTime.text, "09:05:07"); // the label keeps the time read before the set
}

TEST_F(WatcherTest, ClosureHeldForManyPassesSetsOnceAndKeepsTimeSetShown) {
    clock.SetNow(23, 59, 59);
    for (int i = 0; i < 200; ++i)
        Pass(119);
    ASSERT_EQ(clock.sets.size(), 1u);
    EXPECT_EQ(clock.sets[0].text, "23:54:30");
    EXPECT_EQ(lblPort.text, "Time Set");
    EXPECT_TRUE(lblPort.visible);

    Pass(127);
    EXPECT_FALSE(watcher.blnTimeSet);
    EXPECT_FALSE(lblPort.visible);
    EXPECT_EQ(lblPort.text, "Time Set"); // hidden, never cleared
}

TEST_F(WatcherTest, BounceRearmsTheLatchAndSetsAgain) {
    clock.SetNow(0, 0, 5);
    for (auto status : {119, 127, 119, 119, 200, 0})
        Pass(static_cast<std::uint8_t>(status));
    ASSERT_EQ(clock.sets.size(), 3u);
    for (const auto& set : clock.sets)
        EXPECT_EQ(set.text, "00:54:30");
}

TEST_F(WatcherTest, RefusedClockSaysTimeNotSetAndStillLatches) {
    clock.SetNow(14, 7, 12);
    clock.refuse = true;
    clock.note = "refused, and why";
    Pass(119);
    EXPECT_EQ(lblPort.text, "Time Not Set");
    EXPECT_EQ(lblPort.toolTip, "refused, and why");
    EXPECT_TRUE(lblPort.visible);
    EXPECT_TRUE(watcher.blnTimeSet);
    Pass(119);
    EXPECT_EQ(clock.sets.size(), 1u); // one attempt per closure
}

TEST_F(WatcherTest, UnreadablePortShowsNoPortAndLeavesLatchAndClockAlone) {
    clock.SetNow(10, 20, 30);
    port.note = "no library";
    Pass(std::nullopt);
    EXPECT_EQ(lblTime.text, "10:20:30");
    EXPECT_EQ(lblPort.text, "No Port");
    EXPECT_EQ(lblPort.toolTip, "no library");
    EXPECT_TRUE(lblPort.visible);
    EXPECT_FALSE(watcher.blnTimeSet);
    EXPECT_TRUE(clock.sets.empty());

    // The first readable pass carries on as usual.
    Pass(119);
    EXPECT_EQ(clock.sets.size(), 1u);
    EXPECT_EQ(lblPort.text, "Time Set");

    // Lost while latched: the latch holds, so the same closure is not acted on again...
    Pass(std::nullopt);
    EXPECT_TRUE(watcher.blnTimeSet);
    EXPECT_EQ(lblPort.text, "No Port");
    port.note = "back";
    Pass(119);
    EXPECT_EQ(clock.sets.size(), 1u);
    EXPECT_EQ(lblPort.text, "Time Set"); // ...and the label tells the last result again
    EXPECT_EQ(lblPort.toolTip, "Clock set from 10:20:30 to 10:54:30.\nno library");
    EXPECT_TRUE(lblPort.visible);

    Pass(std::nullopt);
    Pass(127);
    EXPECT_FALSE(lblPort.visible);
    EXPECT_FALSE(watcher.blnTimeSet);
}

} // namespace
} // namespace larkmoor

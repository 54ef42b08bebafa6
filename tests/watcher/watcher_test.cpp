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

TEST_F(WatcherTest, FirstClosedPassSetsTheClockFromAFreshReading) {
    clock.SetNow(9, 5, 7);
    Pass(127);
    EXPECT_EQ(lblTime.text, "09:05:07");
    EXPECT_FALSE(lblPort.visible);

    clock.reads = 0;
    Pass(119);
    EXPECT_EQ(clock.reads, 2); // one for the label, a fresh one for the set
    ASSERT_EQ(clock.sets.size(), 1u);
    EXPECT_EQ(clock.sets[0], "09:54:30");
    EXPECT_EQ(lblPort.text, "Time Set");
    EXPECT_EQ(lblPort.toolTip, "Clock set from 09:05:07 to 09:54:30.\nport note");
    EXPECT_TRUE(lblPort.visible);
    EXPECT_EQ(lblTime.text, "09:05:07"); // the label keeps the time read before the set

    Pass(127);
    EXPECT_FALSE(lblPort.visible);
    EXPECT_EQ(lblPort.text, "Time Set"); // hidden, never cleared
}

} // namespace
} // namespace larkmoor

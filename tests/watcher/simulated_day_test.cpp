// Twenty-four hours of 50 ms passes through the real watcher, against a port that closes at
// random, holds, bounces and sometimes cannot be read, and a clock that sometimes refuses.
// With this seed the day holds some 37,000 closures (most of them bounces), 3,700 refusals and
// 17,000 unreadable passes; every status value comes up many times, the threshold's 119
// (closed) and 120 (open) too.
#include "fakes.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace std::string_literals;

namespace larkmoor {
namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kDayNs = 86'400'000 * kMs;

TEST(SimulatedDay, OneSetPerClosureAndLabelsThatTellTheLastReading) {
    fakes::FakePort port;
    fakes::FakeClock clock; // in UTC, 50 ms on per pass, moved by each set it lets through
    std::int64_t ns = 20'000 * kDayNs + 7 * 3600'000 * kMs;
    fakes::FakeControl lblTime, lblPort;
    fakes::FakeReadiness readiness;
    ClosureWatcher watcher(port, clock, readiness, lblTime, lblPort);
    std::mt19937 random(20261206);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };

    enum Reading { kOpen, kClosed, kUnreadable } stretch = kOpen;
    int left = 0;
    bool bouncing = false, latched = false, seenOpen = false;
    std::string lastResult, lastNote;
    for (int pass = 0; pass < 1'728'000; ++pass, ns += 50 * kMs) {
        const int seconds = static_cast<int>(ns % kDayNs / 1000 / kMs);
        clock.now = {ns, seconds / 3600, seconds / 60 % 60, seconds % 60, 0};
        if (left-- == 0) { // open, a closure of one pass to an hour, or a port lost for a while
            const int kind = pick(0, 99);
            stretch = kind < 50 ? kOpen : kind < 90 ? kClosed : kUnreadable;
            left = kind < 50   ? pick(1, 20'000)
                   : kind < 55 ? pick(20'000, 72'000)
                   : kind < 90 ? pick(1, 400)
                               : pick(1, 2'000);
            bouncing = kind % 10 == 0;
            readiness.latest.missing = pick(0, 9) == 0 ? "no right" : "";
        }
        const std::string& missing = readiness.latest.missing;
        Reading reading = stretch;
        if (bouncing && reading != kUnreadable && pick(0, 3) == 0)
            reading = reading == kOpen ? kClosed : kOpen;
        port.note = reading == kUnreadable ? "lost" : "read";
        port.status = reading == kClosed ? pick(0, 119) : pick(120, 255);
        if (reading == kUnreadable)
            port.status.reset();
        const std::string shown = TimeText(clock.now);
        // A closure counts once the contact has been read open since the port became readable.
        seenOpen = reading == kOpen || (seenOpen && reading == kClosed);
        const bool newClosure = reading == kClosed && seenOpen && !latched;
        if (newClosure) {
            clock.refuse = pick(0, 9) == 0;
            clock.note = clock.refuse ? "refused" : "";
            clock.maybe = pick(0, 1) == 0;
            lastResult = !clock.refuse ? "Time Set" : clock.maybe ? "Time Set?" : "Time Not Set";
            lastNote = clock.refuse ? (missing.empty() ? "refused" : "refused\n" + missing)
                                    : "Clock set from " + shown + " to " + shown.substr(0, 3) +
                                          "54:30.\nread";
        }
        clock.reads = 0;
        clock.sets.clear();

        watcher.Timer1_Timer();

        ASSERT_EQ(lblTime.text, shown) << pass;
        ASSERT_EQ(port.address, 0x379);
        ASSERT_EQ(clock.sets, std::vector(newClosure ? 1 : 0, shown.substr(0, 3) + "54:30"))
            << pass;
        ASSERT_EQ(clock.reads, newClosure ? 2 : 1) << pass; // a fresh one to set
        // Open, but no closure could be seen (bit 7 set) or none could set the clock.
        const bool unseeable = reading != kUnreadable && *port.status >= 128;
        const bool notReady = reading == kOpen && (unseeable || !missing.empty());
        ASSERT_EQ(lblPort.visible, reading != kOpen || notReady) << pass;
        ASSERT_TRUE(!notReady || lblPort.text == "Not Ready") << pass;
        const bool closedSinceFound = reading == kClosed && !seenOpen;
        ASSERT_EQ(lblTime.toolTip.starts_with("Ready: "),
                  reading != kUnreadable && !unseeable && missing.empty() && !closedSinceFound)
            << pass;
        if (reading == kUnreadable) {
            ASSERT_EQ(lblPort.text, "No Port") << pass;
            ASSERT_EQ(lblPort.toolTip, missing.empty() ? "lost" : "lost\n" + missing) << pass;
            continue;
        }
        latched = reading == kClosed && (latched || newClosure);
        ASSERT_EQ(watcher.blnTimeSet, latched) << pass;
        if (reading == kClosed) {
            const std::string waiting = (missing.empty() ? "" : missing + "\n") + kClosedSinceFound;
            ASSERT_EQ(lblPort.text, latched ? lastResult : "Not Ready");
            ASSERT_EQ(lblPort.toolTip, latched ? lastNote : waiting + "\nread") << pass;
        }
        if (newClosure && !clock.refuse)
            ns = TargetUtcNs(clock.now, clock.sets.back()).value();
    }
}

} // namespace
} // namespace larkmoor

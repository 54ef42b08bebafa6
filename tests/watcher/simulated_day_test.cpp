// Twenty-four hours of 50 ms passes through the real watcher, against a port that closes at
// random, holds, bounces and sometimes cannot be read, and a clock that sometimes refuses.
#include "fakes.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

namespace larkmoor {
namespace {

constexpr std::int64_t kMs = 1'000'000;
constexpr std::int64_t kDayNs = 86'400'000 * kMs;

// A UTC clock that runs 50 ms per pass and really moves when set.
class SimulatedClock : public Clock {
  public:
    std::int64_t ns = 20'000 * kDayNs + 7 * 3600'000 * kMs;
    bool refuse = false;
    int sets = 0;

    ClockReading Now() override {
        const std::int64_t ofDay = ns % kDayNs;
        const int seconds = static_cast<int>(ofDay / 1000 / kMs);
        return {ns, seconds / 3600, seconds / 60 % 60, seconds % 60,
                static_cast<std::int32_t>(ofDay % (1000 * kMs))};
    }
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view text) override {
        ++sets;
        const auto target = TargetUtcNs(basis, text);
        if (refuse || !target)
            return {false, "refused"};
        ns = *target;
        return {true, ""};
    }
};

enum class Reading { Open, Closed, Unreadable };

// Long stretches of each kind, with closures that range from one pass to an hour.
class Contact {
  public:
    explicit Contact(unsigned seed) : random_(seed) {}
    Reading Next() {
        if (left_ == 0)
            Choose();
        --left_;
        if (bouncing_ && Pick(0, 3) == 0)
            return current_ == Reading::Closed ? Reading::Open : Reading::Closed;
        return current_;
    }
    std::uint8_t Status(Reading r) {
        return static_cast<std::uint8_t>(r == Reading::Closed ? Pick(0, 119) : Pick(120, 255));
    }
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  private:
    void Choose() {
        const int kind = Pick(0, 99);
        bouncing_ = kind < 10;
        if (kind < 50) {
            current_ = Reading::Open;
            left_ = Pick(1, 20'000);
        } else if (kind < 90) {
            current_ = Reading::Closed;
            left_ = kind < 55 ? Pick(20'000, 72'000) : Pick(1, 400);
        } else {
            current_ = Reading::Unreadable;
            left_ = Pick(1, 2'000);
        }
    }
    std::mt19937 random_;
    Reading current_ = Reading::Open;
    int left_ = 0;
    bool bouncing_ = false;
};

TEST(SimulatedDay, OneSetPerClosureAndLabelsThatTellTheLastReading) {
    fakes::FakePort port;
    SimulatedClock clock;
    fakes::FakeControl lblTime, lblPort;
    ClosureWatcher watcher(port, clock, lblTime, lblPort);
    Contact contact(20261206);

    bool lastReadableClosed = false;
    std::string lastResult;
    long closures = 0, unreadable = 0, refusals = 0;
    for (long pass = 0; pass < 1'728'000; ++pass) {
        const Reading reading = contact.Next();
        port.status = reading == Reading::Unreadable
                          ? std::nullopt
                          : std::optional<std::uint8_t>(contact.Status(reading));
        const bool newClosure = reading == Reading::Closed && !lastReadableClosed;
        if (newClosure)
            clock.refuse = contact.Pick(0, 9) == 0;
        const std::string shown = TimeText(clock.Now());
        const int setsBefore = clock.sets;

        watcher.Timer1_Timer();

        ASSERT_EQ(lblTime.text, shown) << pass;
        ASSERT_EQ(clock.sets - setsBefore, newClosure ? 1 : 0) << pass;
        switch (reading) {
        case Reading::Unreadable:
            ++unreadable;
            ASSERT_TRUE(lblPort.visible && lblPort.text == "No Port") << pass;
            break;
        case Reading::Open:
            ASSERT_FALSE(lblPort.visible) << pass;
            ASSERT_FALSE(watcher.blnTimeSet) << pass;
            lastReadableClosed = false;
            break;
        case Reading::Closed:
            if (newClosure) {
                ++closures;
                refusals += clock.refuse;
                lastResult = clock.refuse ? "Time Not Set" : "Time Set";
            }
            ASSERT_TRUE(lblPort.visible) << pass;
            ASSERT_EQ(lblPort.text, lastResult) << pass;
            ASSERT_TRUE(watcher.blnTimeSet) << pass;
            lastReadableClosed = true;
            break;
        }
        if (newClosure && !clock.refuse) {
            ASSERT_EQ(clock.Now().minute, 54) << pass;
            ASSERT_EQ(clock.Now().second, 30) << pass;
        }
        clock.ns += 50 * kMs;
    }
    std::printf("%ld closures, %ld refused, %ld unreadable passes\n", closures, refusals,
                unreadable);
    // The day really held all of it.
    EXPECT_GT(closures, 1'000);
    EXPECT_GT(refusals, 50);
    EXPECT_GT(unreadable, 10'000);
    EXPECT_EQ(clock.sets, closures);
}

} // namespace
} // namespace larkmoor

// Time texts and the closure watcher, against a fake port, clock and readiness.
#include "fakes.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

namespace larkmoor {
namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

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

// Passes over the contact as read by `passes`, a character each: 'o' open (0x7F), 'O' open at the
// threshold (120), 'c' closed (0x77), 'C' closed at the threshold (119), 'h' bit 7 set (0xFF), 'x'
// unreadable ("lost"). The clock sets, refuses ("refused"), or refuses having maybe set; `missing`
// is what the readiness checks say is missing. Then the port label: its text ("" hidden), its
// tooltip, and the sets made (each of hh:54:30, from a fresh reading).
TEST(Watcher, EachReadingShowsItsTruthAndEachClosureSetsOnce) {
    enum Clock { kSets, kRefuses, kMaybe };
    const std::string setNote = "Clock set from 09:05:07 to 09:54:30.\nport note";
    const std::string since = std::string(kClosedSinceFound) + "\nport note";
    const std::string unseeable = "The port reads 0xFF: with bit 7 set no closure can be seen.";
    for (const auto& [passes, clockDoes, missing, text, toolTip, sets] : std::initializer_list<
             std::tuple<const char*, Clock, const char*, const char*, std::string, int>>{
             {"oC", kSets, "", "Time Set", setNote, 1},
             {"oO", kSets, "", "", "", 0},
             {"oco", kSets, "", "", setNote, 1},
             {"occocco", kSets, "", "", setNote, 2},
             {"c", kSets, "", "Not Ready", since, 0},
             {"oxc", kSets, "", "Not Ready", since, 0},
             {"ocx", kSets, "", "No Port", "lost", 1},
             {"ocxc", kSets, "", "Time Set", setNote, 1},
             {"o", kSets, "No right.", "Not Ready", "No right.\nport note", 0},
             {"x", kSets, "No right.", "No Port", "lost\nNo right.", 0},
             {"c", kSets, "No right.", "Not Ready", "No right.\n" + since, 0},
             {"h", kSets, "", "Not Ready", unseeable, 0},
             {"oc", kRefuses, "No right.", "Time Not Set", "refused\nNo right.", 1},
             {"oc", kMaybe, "", "Time Set?", "refused", 1},
         }) {
        SCOPED_TRACE(std::string(passes) + " " + missing);
        fakes::FakePort port;
        fakes::FakeClock clock;
        fakes::FakeReadiness readiness;
        fakes::FakeControl lblTime, lblPort;
        ClosureWatcher watcher{port, clock, readiness, lblTime, lblPort};
        clock.now = {0, 9, 5, 7, 0};
        clock.refuse = clockDoes != kSets;
        clock.maybe = clockDoes == kMaybe;
        clock.note = clock.refuse ? "refused" : "";
        readiness.latest.missing = missing;
        int reads = 0;
        for (const char* pass = passes; *pass; ++pass) {
            const std::string_view codes = "oOcChx";
            const int status[] = {0x7F, 120, 0x77, 119, 0xFF, -1};
            const int read = status[codes.find(*pass)];
            port.status = read < 0 ? std::nullopt : std::optional<std::uint8_t>(read);
            port.note = read < 0 ? "lost" : "port note";
            const std::size_t setsBefore = clock.sets.size();
            watcher.Timer1_Timer();
            reads += clock.sets.size() > setsBefore ? 2 : 1;
            EXPECT_EQ(lblTime.text, "09:05:07");
        }
        EXPECT_EQ(lblPort.visible ? lblPort.text : "", text);
        EXPECT_TRUE(lblPort.toolTip.starts_with(toolTip)) << lblPort.toolTip;
        EXPECT_EQ(clock.sets, std::vector<std::string>(sets, "09:54:30"));
        EXPECT_EQ(clock.reads, reads);
        EXPECT_EQ(port.address, kStatusPort);
    }
}

} // namespace
} // namespace larkmoor

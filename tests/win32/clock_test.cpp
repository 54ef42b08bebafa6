// The Windows clock under Wine, built at -O2 and run in Asia/Kolkata, half an hour off the hour
// (CMakeLists.txt): its local reading, its monotonic clock and what it hands to SetSystemTime; and
// whether this program may set the clock, and whether Windows Time would move it too.
#include "helpers.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/readiness_win32.h"

#include <cstdio>
#include <ctime>

namespace larkmoor {
namespace {

TEST(Win32Clock, AReadingIsTheLocalTimeOfWindowsAndTheSetIsInUtc) {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    const auto clock = MakeSystemClock();
    ClockReading reading = clock->Now();
    EXPECT_EQ(reading.hour, local.wHour);
    EXPECT_NEAR(reading.minute * 60 + reading.second, local.wMinute * 60 + local.wSecond, 1);
    EXPECT_NEAR(reading.utcNs / 1'000'000'000, std::time(nullptr), 1);
    // Wine moves no clock: it refuses a move of more than half a second and calls a smaller one
    // done. Asked for the local time 5:30 h from now, SetSystemTime gets the UTC fields of that,
    // which are the local fields of now: refused, where SetLocalTime would take them for now.
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "a set might succeed";
    while ((reading = clock->Now()).nanosecond > 300'000'000)
        Sleep(20);
    const FILETIME ahead = UnixNsToFileTime(reading.utcNs + 19'800'000'000'000);
    const ClockReading basis = *LocalReading(ahead, SystemTimeCalls());
    const ClockSet set = clock->SetTimeOfDay(basis, TimeText(basis), std::nullopt);
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "(error 1314).\nSee \"Setting the clock without a prompt\" in the README.",
                        set.note);
}

TEST(Win32Clock, TheMonotonicClockKeepsPaceWithTheTickCountAndOnXpKeepsToOneProcessor) {
    // The monotonic clock read between two tick counts (a braced list is evaluated in order), so
    // that a busy machine cannot widen the gap.
    const auto read = [] { return std::tuple{GetTickCount(), MonotonicNs(), GetTickCount()}; };
    const auto [before0, start, after0] = read();
    Sleep(300);
    const auto [before1, end, after1] = read();
    const std::int64_t ms = (end - start) / 1'000'000;
    EXPECT_TRUE(ms >= std::int64_t{before1 - after0} - 16 && ms <= after1 - before0 + 16) << ms;
    const std::tuple<unsigned, DWORD_PTR, std::optional<DWORD_PTR>> cases[] = {
        {5, 0b1100, 0b0100}, {5, 0b11, 0b01}, {5, 0b10, {}}, {6, 0b11, {}}, {10, 0b1100, {}},
    };
    for (const auto& [major, mask, one] : cases)
        EXPECT_EQ(ClockAffinity(major, mask), one) << major << " " << mask;
}

TEST(Win32Clock,
     SetSystemTimeGetsTheUtcFieldsOfTheTimeAskedForAndNothingWithoutALocalTimeOrATrustedCounter) {
    TIME_ZONE_INFORMATION berlin{}, kolkata{};
    berlin.Bias = -60;
    berlin.StandardDate = {0, 10, 0, 5, 3, 0, 0, 0}; // last Sunday of October, 03:00
    berlin.DaylightDate = {0, 3, 0, 5, 2, 0, 0, 0};  // last Sunday of March, 02:00
    berlin.DaylightBias = -60;
    kolkata.Bias = -330;
    const std::string refused =
        "Windows could not give the local time, so the clock was not set: " +
        SystemMessage(ERROR_INVALID_PARAMETER);
    // The zone (none: the conversion fails), the time now in UTC, the local time asked for, the
    // microseconds from the closure to the set on the monotonic clock (below 0: the closure marked
    // after the set, by counters that differ between processors), and the UTC time set, or the
    // start of the note where nothing was set.
    const std::tuple<TIME_ZONE_INFORMATION*, SYSTEMTIME, const char*, int, const char*> cases[] = {
        {&berlin, {2026, 7, 3, 15, 10, 7, 12, 250}, "12:54:30", 31600, "2026-07-15 10:54:30.032"},
        {&berlin, {2026, 1, 4, 15, 10, 7, 12, 0}, "11:54:30", 0, "2026-01-15 10:54:30.000"},
        {&kolkata, {2026, 7, 3, 15, 20, 0, 5, 0}, "01:54:30", 999999, "2026-07-15 20:24:31.000"},
        {nullptr, {2026, 7, 3, 15, 20, 0, 5, 0}, "20:54:30", 0, refused.c_str()},
        {&kolkata, {2026, 7, 3, 15, 20, 0, 5, 0}, "01:54:30", -1, "The closure was marked later"},
    };
    for (const auto& [zone, now, asked, sinceUs, outcome] : cases) {
        SCOPED_TRACE(outcome);
        char sets[32] = "";
        const auto clock = MakeWin32Clock(
            {[&](const SYSTEMTIME& utc, SYSTEMTIME& local) {
                 SetLastError(ERROR_INVALID_PARAMETER);
                 return zone && SystemTimeToTzSpecificLocalTime(zone, &utc, &local);
             },
             [&](const SYSTEMTIME& t) {
                 return std::snprintf(sets, sizeof sets, "%04d-%02d-%02d %02d:%02d:%02d.%03d",
                                      t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond,
                                      t.wMilliseconds) > 0;
             },
             [&] { return 5'000'000'000 + sinceUs * std::int64_t{1000}; }});
        FILETIME utc{};
        SystemTimeToFileTime(&now, &utc);
        const ClockSet set = clock->SetTimeOfDay({FileTimeToUnixNs(utc)}, asked, 5'000'000'000);
        EXPECT_TRUE((*sets ? std::string(sets) : set.note).starts_with(outcome))
            << sets << set.note;
        EXPECT_EQ(set.timeText.substr(std::min<std::size_t>(set.timeText.size(), 8)),
                  *sets ? std::string(outcome).substr(19) : "");
    }
}

TEST(Win32Readiness, TheTokenHoldsTheTimeRightAndWindowsTimeCountsOnlyWithASource) {
    EXPECT_EQ(SystemReadinessCalls().holdsTimePrivilege(), true); // Wine's token does
    // Whether the token holds the right (nothing: unreadable), whether Windows Time runs, and its
    // source; what is missing, and the time service that would move the clock too.
    const std::tuple<std::optional<bool>, bool, const char*, const char*, const char*> cases[] = {
        {true, true, "NT5DS", "", "Windows Time is running"},
        {true, true, "nosync", "", ""},
        {false, false, "NTP", "This account may not change the system time: its rights lack", ""},
        {std::nullopt, false, "NTP", "Windows could not read this program's rights: Access", ""},
    };
    for (const auto& [held, running, type, missing, service] : cases) {
        SetLastError(ERROR_ACCESS_DENIED); // why the rights could not be read
        const ClockReadiness got = CheckWindowsReadiness(
            {[&] { return held; },
             [&](const char* name) { return running && name == std::string("W32Time"); },
             [&] {
                 auto registry = std::make_unique<fakes::FakeRegistry>();
                 registry->Put("SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters", "Type",
                               kRegSz, type);
                 return registry;
             }});
        EXPECT_TRUE(got.missing.starts_with(missing) && got.missing.empty() == !*missing &&
                    got.timeService == service)
            << type << ", " << missing;
    }
}

} // namespace
} // namespace larkmoor

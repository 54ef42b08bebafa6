#include "platform/win32/clock_win32.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

namespace larkmoor {
namespace {

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(Win32Clock, FileTimeAndUnixNanosecondsConvertBothWays) {
    const FILETIME epoch = UnixNsToFileTime(0);
    EXPECT_EQ(FileTimeToUnixNs(epoch), 0);
    const std::int64_t ns = 1'773'183'599'900'000'000; // 100 ns steps survive the round trip
    EXPECT_EQ(FileTimeToUnixNs(UnixNsToFileTime(ns)), ns);
}

TEST(Win32Clock, AReadingAgreesWithTheLocalTimeOfWindows) {
    auto clock = MakeSystemClock();
    SYSTEMTIME before{};
    GetLocalTime(&before);
    const ClockReading reading = clock->Now();
    EXPECT_EQ(reading.hour, before.wHour);
    EXPECT_NEAR(reading.minute * 60 + reading.second, before.wMinute * 60 + before.wSecond, 1);
    EXPECT_EQ(reading.nanosecond, reading.utcNs % 1'000'000'000);
}

TEST(Win32Clock, ALargeMoveIsRefusedUnderWineAndReportedAsFailure) {
    if (!RunningUnderWine())
        GTEST_SKIP() << "only under Wine, which refuses large moves";
    auto clock = MakeSystemClock();
    ClockReading basis = clock->Now();
    // Twelve hours away from now on the same date: far beyond what Wine lets through.
    const int hour = (basis.hour + 12) % 24;
    char text[9];
    std::snprintf(text, sizeof text, "%02d:54:30", hour);
    const ClockSet refused = clock->SetTimeOfDay(basis, text);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.note.find("may not change the system time"), std::string::npos)
        << refused.note;
    EXPECT_NE(refused.note.find("(error 1314)."), std::string::npos) << refused.note;
    EXPECT_FALSE(clock->SetTimeOfDay(basis, "not time").ok);
}

} // namespace
} // namespace larkmoor

#include "clock_win32.h"

namespace larkmoor {

namespace {
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000;
} // namespace

std::int64_t FileTimeToUnixNs(const FILETIME& ft) {
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    return (ticks - kUnixEpochAsFileTime) * 100;
}

FILETIME UnixNsToFileTime(std::int64_t ns) {
    const auto ticks = static_cast<std::uint64_t>(ns / 100 + kUnixEpochAsFileTime);
    return {static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

ClockReading LocalReading(const FILETIME& utc) {
    SYSTEMTIME utcTime{}, local{};
    FileTimeToSystemTime(&utc, &utcTime);
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utcTime, &local))
        local = utcTime;
    const std::int64_t ns = FileTimeToUnixNs(utc);
    return {ns, local.wHour, local.wMinute, local.wSecond,
            static_cast<std::int32_t>(((ns % 1'000'000'000) + 1'000'000'000) % 1'000'000'000)};
}

namespace {
class Win32Clock : public Clock {
  public:
    ClockReading Now() override {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        return LocalReading(now);
    }
    // Sets the clock in UTC, so that a repeated local hour cannot be taken for the other one.
    // SetSystemTime enables the time privilege itself where the user holds it.
    bool SetTimeOfDay(const ClockReading& basis, std::string_view timeText) override {
        const auto target = TargetUtcNs(basis, timeText);
        if (!target)
            return false;
        const FILETIME ft = UnixNsToFileTime(*target);
        SYSTEMTIME st{};
        return FileTimeToSystemTime(&ft, &st) && SetSystemTime(&st);
    }
};
} // namespace

std::unique_ptr<Clock> MakeSystemClock() {
    return std::make_unique<Win32Clock>();
}

} // namespace larkmoor

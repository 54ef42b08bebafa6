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

std::string SystemMessage(DWORD code) {
    char text[512] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return (message.empty() ? "Error" : message) + " (error " + std::to_string(code) + ").";
}

std::string SetRefusal(DWORD code) {
    if (code == ERROR_PRIVILEGE_NOT_HELD)
        return "This account may not change the system time: " + SystemMessage(code) +
               "\nSee \"Setting the clock without a prompt\" in the README.";
    return "Windows refused to set the clock: " + SystemMessage(code);
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
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view timeText) override {
        const auto target = TargetUtcNs(basis, timeText);
        if (!target)
            return {false, "Not a time of day: " + std::string(timeText)};
        const FILETIME ft = UnixNsToFileTime(*target);
        SYSTEMTIME st{};
        if (!FileTimeToSystemTime(&ft, &st) || !SetSystemTime(&st))
            return {false, SetRefusal(GetLastError())};
        return {true, ""};
    }
};
} // namespace

std::unique_ptr<Clock> MakeSystemClock() {
    return std::make_unique<Win32Clock>();
}

} // namespace larkmoor

#include "clock_win32.h"

namespace larkmoor {

namespace {
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000;
} // namespace

std::int64_t MonotonicNs() {
    LARGE_INTEGER count{}, frequency{};
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency); // never fails from XP on
    const std::int64_t perSecond = frequency.QuadPart;
    return count.QuadPart / perSecond * 1'000'000'000 +
           count.QuadPart % perSecond * 1'000'000'000 / perSecond;
}

std::optional<DWORD_PTR> ClockAffinity(unsigned windowsMajor, DWORD_PTR processMask) {
    const DWORD_PTR lowest = processMask & (~processMask + 1);
    if (windowsMajor >= 6 || processMask == lowest)
        return std::nullopt;
    return lowest;
}

void KeepClockReadingsTogether() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    DWORD_PTR process = 0, system = 0;
    if (!GetVersionExA(&version) || !GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        return;
    if (const auto one = ClockAffinity(version.dwMajorVersion, process))
        SetProcessAffinityMask(GetCurrentProcess(), *one);
}

std::int64_t FileTimeToUnixNs(const FILETIME& ft) {
    const std::int64_t ticks = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
    return (ticks - kUnixEpochAsFileTime) * 100;
}

FILETIME UnixNsToFileTime(std::int64_t ns) {
    const auto ticks = static_cast<std::uint64_t>(ns / 100 + kUnixEpochAsFileTime);
    return {static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
}

std::optional<ClockReading> LocalReading(const FILETIME& utc, const TimeCalls& calls) {
    SYSTEMTIME utcTime{}, local{};
    if (!FileTimeToSystemTime(&utc, &utcTime) || !calls.toLocal(utcTime, local))
        return std::nullopt;
    const std::int64_t ns = FileTimeToUnixNs(utc);
    return ClockReading{
        ns, local.wHour, local.wMinute, local.wSecond,
        static_cast<std::int32_t>(((ns % 1'000'000'000) + 1'000'000'000) % 1'000'000'000)};
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
    explicit Win32Clock(TimeCalls calls) : calls_(std::move(calls)) {}

    // Where Windows cannot give the local time, the reading is in UTC; no set is made from it.
    ClockReading Now() override {
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        if (const auto local = LocalReading(now, calls_))
            return *local;
        const std::int64_t ns = FileTimeToUnixNs(now);
        const std::int64_t second = ns / 1'000'000'000;
        return {ns, static_cast<int>(second / 3600 % 24), static_cast<int>(second / 60 % 60),
                static_cast<int>(second % 60), static_cast<std::int32_t>(ns % 1'000'000'000)};
    }
    // Sets the clock in UTC, so that a repeated local hour cannot be taken for the other one. The
    // local date and offset are those of the basis's instant, converted again here, so that a
    // reading that could not be converted never sets the clock. SetSystemTime enables the time
    // privilege itself where the user holds it.
    // The time since the closure is added last, just before the set: SYSTEMTIME holds
    // milliseconds, so the set is rounded to the nearest one.
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view timeText,
                          std::optional<std::int64_t> closedAtNs) override {
        const std::optional<ClockReading> local =
            LocalReading(UnixNsToFileTime(basis.utcNs), calls_);
        if (!local)
            return ClockSet::NotSet(
                "Windows could not give the local time, so the clock was not set: " +
                SystemMessage(GetLastError()));
        const auto target = TargetUtcNs(*local, timeText);
        if (!target)
            return ClockSet::NotSet("Not a time of day: " + std::string(timeText));
        const std::int64_t now = calls_.monotonicNs();
        const std::optional<std::int64_t> since = SinceClosure(closedAtNs.value_or(now), now);
        if (!since && closedAtNs > now)
            return ClockSet::NotSet("The closure was marked later than the set on the PC's "
                                    "performance counter, which then cannot be trusted: nothing "
                                    "was set.");
        if (!since)
            return ClockSet::NotSet("The closure was seen more than a second before the clock "
                                    "could be set: nothing was set. The next closure sets the "
                                    "clock.");
        const FILETIME ft = UnixNsToFileTime((*target + *since + 500'000) / 1'000'000 * 1'000'000);
        SYSTEMTIME st{};
        if (!FileTimeToSystemTime(&ft, &st) || !calls_.setUtc(st))
            return ClockSet::NotSet(SetRefusal(GetLastError()));
        const std::optional<ClockReading> set = LocalReading(ft, calls_);
        return ClockSet::Set(set ? TimeTextMs(*set) : "");
    }

  private:
    TimeCalls calls_;
};
} // namespace

TimeCalls SystemTimeCalls() {
    return {[](const SYSTEMTIME& utc, SYSTEMTIME& local) {
                return SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) != FALSE;
            },
            [](const SYSTEMTIME& utc) { return SetSystemTime(&utc) != FALSE; }, MonotonicNs};
}

std::unique_ptr<Clock> MakeWin32Clock(TimeCalls calls) {
    return std::make_unique<Win32Clock>(std::move(calls));
}

std::unique_ptr<Clock> MakeSystemClock() {
    return MakeWin32Clock(SystemTimeCalls());
}

} // namespace larkmoor

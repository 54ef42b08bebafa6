#include "clock_linux.h"

#include <cerrno>
#include <cstring>

namespace larkmoor {

ClockReading LocalReading(const timespec& ts) {
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return {ts.tv_sec * std::int64_t{1'000'000'000} + ts.tv_nsec, local.tm_hour, local.tm_min,
            local.tm_sec, static_cast<std::int32_t>(ts.tv_nsec)};
}

namespace {
class LinuxClock : public Clock {
  public:
    ClockReading Now() override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return LocalReading(ts);
    }
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view timeText) override {
        const auto target = TargetUtcNs(basis, timeText);
        if (!target)
            return {false, "Not a time of day: " + std::string(timeText)};
        const timespec ts{static_cast<time_t>(*target / 1'000'000'000),
                          static_cast<long>(*target % 1'000'000'000)};
        if (clock_settime(CLOCK_REALTIME, &ts) != 0)
            return {false,
                    std::string("The system refused to set the clock: ") + std::strerror(errno)};
        return {true, ""};
    }
};
} // namespace

std::unique_ptr<Clock> MakeSystemClock() {
    return std::make_unique<LinuxClock>();
}

} // namespace larkmoor

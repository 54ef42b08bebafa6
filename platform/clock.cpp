#include "clock.h"

#include <cstdio>

namespace larkmoor {

namespace {
constexpr std::int64_t kNsPerSecond = 1'000'000'000;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
int TwoDigits(std::string_view s) {
    return (s[0] - '0') * 10 + (s[1] - '0');
}
} // namespace

std::string TimeText(const ClockReading& reading) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", reading.hour, reading.minute,
                  reading.second);
    return text;
}

std::string TimeTextMs(const ClockReading& reading) {
    char ms[8];
    std::snprintf(ms, sizeof ms, ".%03d", static_cast<int>(reading.nanosecond / 1'000'000));
    return TimeText(reading) + ms;
}

bool NearClosureTime(const ClockReading& reading) {
    const int second = reading.minute * 60 + reading.second;
    return second >= 53 * 60 + 30 && second < 55 * 60 + 30;
}

std::optional<std::int64_t> SinceClosure(std::int64_t closedAtNs, std::int64_t nowNs) {
    const std::int64_t since = nowNs - closedAtNs;
    if (since < 0 || since > kMaxClosureAgeNs)
        return std::nullopt;
    return since;
}

std::optional<int> ParseTimeText(std::string_view text) {
    if (text.size() != 8 || text[2] != ':' || text[5] != ':')
        return std::nullopt;
    for (int i : {0, 1, 3, 4, 6, 7})
        if (!IsDigit(text[i]))
            return std::nullopt;
    const int h = TwoDigits(text.substr(0, 2));
    const int m = TwoDigits(text.substr(3, 2));
    const int s = TwoDigits(text.substr(6, 2));
    if (h > 23 || m > 59 || s > 59)
        return std::nullopt;
    return h * 3600 + m * 60 + s;
}

std::optional<std::int64_t> TargetUtcNs(const ClockReading& reading, std::string_view timeText) {
    const auto target = ParseTimeText(timeText);
    if (!target)
        return std::nullopt;
    const std::int64_t shownNs =
        (reading.hour * 3600 + reading.minute * 60 + reading.second) * kNsPerSecond +
        reading.nanosecond;
    // Same local midnight, same offset: only the time of day moves.
    return reading.utcNs - shownNs + *target * kNsPerSecond;
}

} // namespace larkmoor

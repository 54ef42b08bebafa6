#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace larkmoor {

// One reading of the system clock: the instant and the local time of day that it showed,
// taken together so that date, time and UTC offset all belong to the same moment.
struct ClockReading {
    std::int64_t utcNs = 0; // nanoseconds since 1970-01-01 00:00:00 UTC
    int hour = 0;           // local time of day
    int minute = 0;
    int second = 0;
    std::int32_t nanosecond = 0;
};

// "hh:mm:ss", 24-hour clock, two digits per field.
std::string TimeText(const ClockReading& reading);

// "hh:mm:ss.mmm": the time text with its milliseconds.
std::string TimeTextMs(const ClockReading& reading);

// True from hh:53:30 to hh:55:30 by the local clock: within a minute either side of the
// expected closure, when the port is sampled every millisecond.
bool NearClosureTime(const ClockReading& reading);

// The longest a closure may lie behind the set it starts, and the time from the closure at
// `closedAtNs` to `nowNs` (the same monotonic clock): nothing when the closure lies ahead or
// more than that behind.
inline constexpr std::int64_t kMaxClosureAgeNs = 1'000'000'000;
std::optional<std::int64_t> SinceClosure(std::int64_t closedAtNs, std::int64_t nowNs);

// Seconds since midnight of an "hh:mm:ss" text, or nothing when the text is not of that form.
std::optional<int> ParseTimeText(std::string_view text);

// The UTC instant whose local time of day is exactly `timeText` (no fraction) on the reading's
// own local date and in the reading's own UTC offset. Nothing when the text does not parse.
std::optional<std::int64_t> TargetUtcNs(const ClockReading& reading, std::string_view timeText);

// The outcome of setting the clock: one state, and in words why it was not set, or what went
// wrong beside a set (such as a hardware clock left unwritten); empty when there is nothing to
// say. `timeText` is the time of day set, "hh:mm:ss.mmm" where its milliseconds are known, when
// the clock chose it itself (the time since the closure added, or another hour); else empty.
struct ClockSet {
    enum class State {
        kNotSet,
        kSet,
        kPending,  // the set goes on after the call; its outcome comes later from Clock::Outcome
        kMaybeSet, // not known to be set, yet the clock may have been set
    };
    State state = State::kNotSet;
    std::string note;
    std::string timeText{};

    static ClockSet NotSet(std::string why) { return {State::kNotSet, std::move(why)}; }
    static ClockSet MaybeSet(std::string why) { return {State::kMaybeSet, std::move(why)}; }
    static ClockSet Set(std::string timeText, std::string note = {}) {
        return {State::kSet, std::move(note), std::move(timeText)};
    }
    static ClockSet Pending() { return {State::kPending, {}}; }
    bool IsSet() const { return state == State::kSet; }
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual ClockReading Now() = 0;
    // Moves the system clock so that the local time of day becomes `timeText` on the date of
    // `basis`, plus the time since `closedAtNs` (the port's monotonic clock) measured at the
    // set itself. Not ok when the text is malformed, the closure is more than a second old or
    // ahead, or the system refuses the change.
    virtual ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view timeText,
                                  std::optional<std::int64_t> closedAtNs) = 0;
    // The outcome of a pending set once it has come; nothing while the set goes on, or when no
    // set is pending. Never waits: the watcher asks at each tick.
    virtual std::optional<ClockSet> Outcome() { return std::nullopt; }
};

std::unique_ptr<Clock> MakeSystemClock();

} // namespace larkmoor

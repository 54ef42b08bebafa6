#pragma once

// Whether a closure would set the clock: the right to set it, and a time service that may move
// it back afterwards. The checks may wait on the system (files, the service manager, the process
// token), so they run on a thread of their own every kReadinessPeriodMs and the window only takes
// their latest outcome.

#include <functional>
#include <memory>
#include <string>

namespace larkmoor {

inline constexpr int kReadinessPeriodMs = 5000;

struct ClockReadiness {
    bool checked = false; // false until the first check is in
    // Why a set would be refused and what to do, a line per cause; empty when it may set.
    std::string missing{};
    // A service that may move the clock back after a set, and what is known of it ("chronyd is
    // running"); empty for none.
    std::string timeService{};
};

class Readiness {
  public:
    virtual ~Readiness() = default;
    // The outcome of the latest check; returns at once.
    virtual ClockReadiness Latest() = 0;
};

// Runs `check` at once and then every `periodMs` on a thread of its own, until it goes. Each
// platform's MakeSystemReadiness runs its checks so.
std::unique_ptr<Readiness> MakeBackgroundReadiness(std::function<ClockReadiness()> check,
                                                   int periodMs = kReadinessPeriodMs);

} // namespace larkmoor

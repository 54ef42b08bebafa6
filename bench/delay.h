#pragma once

#include "platform/clock.h"
#include "platform/port.h"
#include "platform/ui.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// The stand-in contact the bench closes and opens: its status register, and whether the port's
// reading thread takes it for the minutes around hh:54:30 (sampling every millisecond).
struct Contact {
    std::atomic<int> status{127};
    std::atomic<bool> nearClosure{true};
};

// A set the clock made (to nowhere): the UTC time it set, and the instant of the set on the
// monotonic clock the port marks closures on.
struct RecordedSet {
    std::int64_t setUtcNs = 0;
    std::int64_t atNs = 0;
};

// What each window system's bench gives: the real main window's windows, the contact read
// through the platform's own port reading thread, the platform's own clock with its set
// recorded instead of made, and that monotonic clock.
struct BenchTarget {
    larkmoor::ui::WindowSystem& windows;
    larkmoor::Port& port;
    larkmoor::Clock& clock;
    std::function<std::int64_t()> monotonicNs;
    std::function<std::vector<RecordedSet>()> sets; // asked once the windows have closed
};

// Runs the real main window with `contact` closed by a second thread at random moments of the
// tick, and prints, for each closure, the delay to the set and the clock's error right after it
// (what it was set to, minus hh:54:30 plus the time since the closure); then the CPU used while
// the contact stays open for `idleSeconds` away from hh:54:30, and while it is sampled fast; and
// the peak memory. 0 when every closure led to exactly one set.
int RunDelayBench(BenchTarget& target, Contact& contact, int closures, int idleSeconds);

// Starts `body` on a thread of its own and gives back the call that waits for it to end. Each
// window system's bench provides it (MinGW's win32 thread model has no std::thread).
std::function<void()> StartThread(std::function<void()> body);

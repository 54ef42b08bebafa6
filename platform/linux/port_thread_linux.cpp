// The first parallel port read on a thread of its own: the caller (the user-interface thread)
// never waits on the kernel.
#include "port_linux.h"

#include "clock_linux.h"
#include "platform/worker.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <time.h>

namespace larkmoor {

namespace {

using namespace std::chrono_literals;

// A reading is asked for at a tick and taken this much later, just before the next tick (50 ms
// after the last) takes it: the contact's state is then at most about 10 ms old when acted on.
constexpr auto kReadAfter = 40ms;
// How often the port is read near the expected closure.
constexpr auto kFastSample = 1ms;

// How long the end of the port waits for its thread, as for every background worker: the program
// ends within about a second of its windows, whatever the kernel makes that thread wait for.
constexpr auto kStopWait = std::chrono::milliseconds(kWorkerStopMs);

// What the caller and the reading thread share; the last of them to let go frees it.
struct Shared {
    explicit Shared(PortMachine machine)
        : now(machine.now), nearClosure(machine.nearClosure), port(std::move(machine)) {}
    std::mutex mutex;
    std::condition_variable changed;
    bool asked = false, stop = false, ended = false;
    std::chrono::milliseconds delay{0}; // of the reading asked for
    std::optional<PortReading> fresh;   // taken, not yet passed on
    std::string waitingFor;             // while the thread is in a call that may wait
    // Used on the reading thread only:
    std::function<std::chrono::steady_clock::time_point()> now;
    std::function<bool()> nearClosure;
    PpdevPort port;
    ClosureInstant closure;
};

// Waits until the next reading is due: in a millisecond near the expected closure, else when
// asked for and its delay has passed. False when told to stop.
bool WaitForTurn(Shared& s, std::unique_lock<std::mutex>& lock) {
    if (s.nearClosure())
        return !s.changed.wait_for(lock, kFastSample, [&] { return s.stop; });
    s.changed.wait(lock, [&] { return s.asked || s.stop; });
    return !s.changed.wait_for(lock, s.delay, [&] { return s.stop; });
}

void ReadWhenAsked(const std::shared_ptr<Shared>& s) {
    std::unique_lock lock(s->mutex);
    while (WaitForTurn(*s, lock)) {
        s->asked = false;
        lock.unlock();
        PortReading reading = s->port.Read([&](std::string what) {
            const std::lock_guard guard(s->mutex);
            s->waitingFor = std::move(what);
        });
        s->closure.Mark(reading, s->now().time_since_epoch() / 1ns);
        lock.lock();
        s->fresh = std::move(reading);
        s->waitingFor.clear();
    }
    s->ended = true;
    s->changed.notify_all();
}

class ThreadedPort : public Port {
  public:
    explicit ThreadedPort(PortMachine machine)
        : now_(machine.now), s_(std::make_shared<Shared>(std::move(machine))),
          thread_(ReadWhenAsked, s_) {
        const std::lock_guard lock(s_->mutex);
        Ask(0ms);
    }

    ~ThreadedPort() override {
        std::unique_lock lock(s_->mutex);
        s_->stop = true;
        s_->changed.notify_all();
        // A thread stuck in the kernel is left to end by itself; the shared state outlives it.
        const bool ended = s_->changed.wait_for(lock, kStopWait, [&] { return s_->ended; });
        lock.unlock();
        ended ? thread_.join() : thread_.detach();
    }

    PortReading Inp(std::uint16_t address) override {
        const std::lock_guard lock(s_->mutex);
        if (address != kStatusPort)
            return {std::nullopt, "Only the status register is read."};
        if (s_->fresh) {
            last_ = std::move(*s_->fresh);
            s_->fresh.reset();
            Ask(kReadAfter);
        } else if (now_() - asked_ >= kReadingOverdue) {
            return {std::nullopt,
                    s_->waitingFor.empty() ? "The port's reading is overdue." : s_->waitingFor};
        }
        return last_;
    }

  private:
    void Ask(std::chrono::milliseconds delay) {
        s_->asked = true;
        s_->delay = delay;
        asked_ = now_();
        s_->changed.notify_all();
    }

    std::function<std::chrono::steady_clock::time_point()> now_;
    std::shared_ptr<Shared> s_;
    std::thread thread_;
    std::chrono::steady_clock::time_point asked_{};
    PortReading last_{std::nullopt, "Looking for the parallel port."};
};

} // namespace

bool NearClosureNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return NearClosureTime(LocalReading(now));
}

std::unique_ptr<Port> MakeFirstParallelPort(PortMachine machine) {
    return std::make_unique<ThreadedPort>(std::move(machine));
}

} // namespace larkmoor

#include "platform/win32/port_win32.h"

#include "platform/win32/clock_win32.h"
#include "platform/win32/worker_win32.h"

#include <windows.h>

#include <mmsystem.h>

namespace larkmoor {

namespace {

// How long a read waits for the port's thread, and how long a read that is not back may stand in
// for new ones before the port counts as gone.
constexpr DWORD kAnswerWaitMs = 20;
constexpr std::uint32_t kPatienceMs = 1000;

// What the window's thread and the port's thread share.
struct PortThread {
    Lock lock;
    Event asked{false};
    Event answered{true};
    bool busy = false; // a read is asked for and not back
    bool stop = false;
    std::uint16_t address = kStatusPort;
    std::optional<PortReading> answer;
    std::unique_ptr<Port> inner;
    std::function<bool()> nearClosure;
    ClosureInstant closure; // the port's thread's own
};

// Raises the system's timer resolution to 1 ms while `on`, so that a wait of 1 ms lasts about
// that and not a whole 15.6 ms step; gives it back when `on` ends.
class FineTimer {
  public:
    ~FineTimer() { Set(false); }
    void Set(bool on) {
        if (on != on_ && (on ? timeBeginPeriod(1) : timeEndPeriod(1)) == TIMERR_NOERROR)
            on_ = on;
    }

  private:
    bool on_ = false;
};

// The port's thread: one read per request, and one every millisecond near the expected
// closure, until told to stop. The first read waits for the first request: a library that
// holds the loader lock as it loads must not hold up the window's start.
void Serve(PortThread& shared) {
    FineTimer timer;
    for (bool fast = false;; fast = shared.nearClosure()) {
        timer.Set(fast);
        WaitForSingleObject(shared.asked.Handle(), fast ? 1 : INFINITE);
        std::uint16_t address;
        {
            Lock::Held held(shared.lock);
            if (shared.stop)
                return;
            address = shared.address;
        }
        PortReading reading = shared.inner->Inp(address);
        shared.closure.Mark(reading, MonotonicNs());
        Lock::Held held(shared.lock);
        shared.answer = std::move(reading);
        shared.busy = false;
        SetEvent(shared.answered.Handle());
    }
}

class BackgroundPort : public Port {
  public:
    BackgroundPort(std::unique_ptr<Port> inner, TickCount ticks, std::function<bool()> nearClosure)
        : shared_(std::make_shared<PortThread>()), ticks_(std::move(ticks)) {
        shared_->inner = std::move(inner);
        shared_->nearClosure = std::move(nearClosure);
        started_ = StartThread([shared = shared_] { Serve(*shared); });
    }
    // Leaves a thread that is still inside a read to finish on its own; it holds what it uses.
    ~BackgroundPort() override {
        Lock::Held held(shared_->lock);
        shared_->stop = true;
        SetEvent(shared_->asked.Handle());
    }

    PortReading Inp(std::uint16_t address) override {
        if (!started_)
            return {std::nullopt, "Windows could not start a thread to read the port."};
        const std::uint32_t now = ticks_();
        Ask(address, now);
        WaitForSingleObject(shared_->answered.Handle(), kAnswerWaitMs);
        Lock::Held held(shared_->lock);
        if (shared_->answer) {
            last_ = std::move(shared_->answer);
            shared_->answer.reset();
            return *last_;
        }
        const std::uint32_t waited = now - askedAt_;
        if (last_ && waited < kPatienceMs)
            return *last_; // the same reading again changes nothing the watcher decides
        if (waited < kPatienceMs)
            return {std::nullopt, "Waiting for the port library to answer."};
        return {std::nullopt, "The port library has not answered for " +
                                  std::to_string(waited / 1000) +
                                  " s.\nIf this lasts, its driver has stopped: restart the PC."};
    }

  private:
    // Asks the port's thread for a read unless one is under way.
    void Ask(std::uint16_t address, std::uint32_t now) {
        Lock::Held held(shared_->lock);
        if (shared_->busy)
            return;
        shared_->busy = true;
        shared_->address = address;
        askedAt_ = now;
        ResetEvent(shared_->answered.Handle());
        SetEvent(shared_->asked.Handle());
    }

    std::shared_ptr<PortThread> shared_;
    TickCount ticks_;
    bool started_ = false;
    std::uint32_t askedAt_ = 0;
    std::optional<PortReading> last_;
};

} // namespace

std::unique_ptr<Port> MakeBackgroundPort(std::unique_ptr<Port> inner, TickCount ticks,
                                         std::function<bool()> nearClosure) {
    return std::make_unique<BackgroundPort>(std::move(inner), std::move(ticks),
                                            std::move(nearClosure));
}

bool NearClosureNow() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::optional<ClockReading> local = LocalReading(now, SystemTimeCalls());
    return local && NearClosureTime(*local);
}

std::unique_ptr<Port> MakeSystemPort() {
    const TickCount ticks = [] { return static_cast<std::uint32_t>(GetTickCount()); };
    auto chosen = FindPortInBackground(MakeSystemParallelPorts());
    return MakeBackgroundPort(MakeLibraryPort(PortLibraryFolders(), std::move(chosen), ticks),
                              ticks, NearClosureNow);
}

} // namespace larkmoor

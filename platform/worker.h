#pragma once

// Work that must not run on the window's thread, since it may wait on the system: a step run at
// once and then again after a pause, on a thread of its own, whose latest result the window
// takes without waiting. One stop policy for every such thread: its owner tells it to stop and
// waits at most kWorkerStopMs for the step under way; a step still held up in the system after
// that (a D-Bus call, WMI) is left to end on its own, and keeps what it uses.

#include <functional>
#include <memory>
#include <utility>

namespace larkmoor {

inline constexpr int kWorkerStopMs = 500;

// What each platform gives the worker: a lock, and a stop and an end that can be waited for
// (worker_linux.cpp, worker_win32.cpp).
class WorkerSync {
  public:
    WorkerSync();
    ~WorkerSync();
    WorkerSync(const WorkerSync&) = delete;
    WorkerSync& operator=(const WorkerSync&) = delete;
    void Lock();
    void Unlock();
    void Stop();
    bool WaitForStop(int ms); // true once stopped
    void Ended();
    void WaitForEnd(int ms);

  private:
    struct Native;
    std::unique_ptr<Native> native_;
};
// Runs `work` on a thread that nobody joins; false where the system could not start one.
bool StartWorkerThread(std::function<void()> work);

template <typename Result> class Worker {
  public:
    // `step` runs at once and then after `pauseMs(its last result)`, until the worker goes.
    Worker(std::function<Result()> step, std::function<int(const Result&)> pauseMs)
        : shared_(std::make_shared<Shared>()) {
        started_ = StartWorkerThread(
            [shared = shared_, step = std::move(step), pauseMs = std::move(pauseMs)] {
                int pause = 0;
                do {
                    Result result = step();
                    pause = pauseMs(result);
                    shared->sync.Lock();
                    shared->latest = std::move(result);
                    shared->sync.Unlock();
                } while (!shared->sync.WaitForStop(pause));
                shared->sync.Ended();
            });
    }
    ~Worker() {
        shared_->sync.Stop();
        if (started_)
            shared_->sync.WaitForEnd(kWorkerStopMs);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    bool Started() const { return started_; }
    // The latest result; the default one until the first step has ended.
    Result Latest() const {
        shared_->sync.Lock();
        Result latest = shared_->latest;
        shared_->sync.Unlock();
        return latest;
    }

  private:
    struct Shared {
        WorkerSync sync;
        Result latest{};
    };
    std::shared_ptr<Shared> shared_;
    bool started_ = false;
};

} // namespace larkmoor

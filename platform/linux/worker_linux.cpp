#include "platform/worker.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace larkmoor {

struct WorkerSync::Native {
    std::mutex mutex;
    std::condition_variable changed;
    bool stopped = false;
    bool ended = false;

    void Set(bool Native::*flag) {
        const std::lock_guard lock(mutex);
        this->*flag = true;
        changed.notify_all();
    }
    bool WaitFor(bool Native::*flag, int ms) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return this->*flag; });
    }
};

WorkerSync::WorkerSync() : native_(std::make_unique<Native>()) {}
WorkerSync::~WorkerSync() = default;

void WorkerSync::Lock() {
    native_->mutex.lock();
}
void WorkerSync::Unlock() {
    native_->mutex.unlock();
}
void WorkerSync::Stop() {
    native_->Set(&Native::stopped);
}
bool WorkerSync::WaitForStop(int ms) {
    return native_->WaitFor(&Native::stopped, ms);
}
void WorkerSync::Ended() {
    native_->Set(&Native::ended);
}
void WorkerSync::WaitForEnd(int ms) {
    native_->WaitFor(&Native::ended, ms);
}

bool StartWorkerThread(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace larkmoor

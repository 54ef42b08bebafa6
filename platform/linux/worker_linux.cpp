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
    const std::lock_guard lock(native_->mutex);
    native_->stopped = true;
    native_->changed.notify_all();
}
bool WorkerSync::WaitForStop(int ms) {
    std::unique_lock lock(native_->mutex);
    return native_->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                     [&] { return native_->stopped; });
}
void WorkerSync::Ended() {
    const std::lock_guard lock(native_->mutex);
    native_->ended = true;
    native_->changed.notify_all();
}
void WorkerSync::WaitForEnd(int ms) {
    std::unique_lock lock(native_->mutex);
    native_->changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return native_->ended; });
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

#include "platform/win32/handles_win32.h"
#include "platform/win32/worker_win32.h"
#include "platform/worker.h"

namespace larkmoor {

struct WorkerSync::Native {
    Native() { InitializeCriticalSection(&section); }
    ~Native() { DeleteCriticalSection(&section); }
    CRITICAL_SECTION section;
    Event stopped{true};
    Event ended{true};
};

WorkerSync::WorkerSync() : native_(std::make_unique<Native>()) {}
WorkerSync::~WorkerSync() = default;

void WorkerSync::Lock() {
    EnterCriticalSection(&native_->section);
}
void WorkerSync::Unlock() {
    LeaveCriticalSection(&native_->section);
}
void WorkerSync::Stop() {
    SetEvent(native_->stopped.Handle());
}
bool WorkerSync::WaitForStop(int ms) {
    return WaitForSingleObject(native_->stopped.Handle(), static_cast<DWORD>(ms)) != WAIT_TIMEOUT;
}
void WorkerSync::Ended() {
    SetEvent(native_->ended.Handle());
}
void WorkerSync::WaitForEnd(int ms) {
    WaitForSingleObject(native_->ended.Handle(), static_cast<DWORD>(ms));
}

bool StartWorkerThread(std::function<void()> work) {
    return StartThread(std::move(work));
}

} // namespace larkmoor

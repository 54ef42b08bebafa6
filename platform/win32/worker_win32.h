#pragma once

// Win32's own threads and locks, for the work that must not run on the window's thread. The win32
// thread model of MinGW-w64, which keeps the program loadable on XP, has no std::thread or
// std::mutex.

#include "platform/win32/handles_win32.h"

#include <windows.h>

#include <functional>

namespace larkmoor {

// A critical section, and a guard that holds it for the rest of a scope.
class Lock {
  public:
    Lock() { InitializeCriticalSection(&section_); }
    ~Lock() { DeleteCriticalSection(&section_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    class Held {
      public:
        explicit Held(Lock& lock) : lock_(lock) { EnterCriticalSection(&lock_.section_); }
        ~Held() { LeaveCriticalSection(&lock_.section_); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

      private:
        Lock& lock_;
    };

  private:
    CRITICAL_SECTION section_;
};

// Runs `work` on a thread of its own, which nobody waits for: whatever it uses must be kept alive
// by `work` itself. False when Windows could not start the thread.
inline DWORD WINAPI RunJob(void* parameter) {
    auto* job = static_cast<std::function<void()>*>(parameter);
    (*job)();
    delete job;
    return 0;
}
inline bool StartThread(std::function<void()> work) {
    auto* job = new std::function<void()>(std::move(work));
    const Handle thread(CreateThread(nullptr, 0, RunJob, job, 0, nullptr)); // nobody joins it
    if (!thread)
        delete job;
    return static_cast<bool>(thread);
}

} // namespace larkmoor

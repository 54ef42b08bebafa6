// GoogleTest's thread support needs one class built on std::mutex, which the win32 thread model
// lacks: this is that class on a Win32 event, included ahead of GoogleTest's own headers.
#pragma once
#include <windows.h>
namespace testing::internal {
struct Notification {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~Notification() { CloseHandle(event); }
    void Notify() { SetEvent(event); }
    void WaitForNotification() { WaitForSingleObject(event, INFINITE); }
};
} // namespace testing::internal

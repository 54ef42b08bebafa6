// GoogleTest's thread support needs one class built on std::mutex, which the win32 thread model
// lacks: this is that class on a Win32 event, included ahead of GoogleTest's own headers.
#pragma once
#include <windows.h>
namespace testing::internal {
class Notification {
  public:
    Notification() : event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

  private:
    HANDLE event_;
};
} // namespace testing::internal

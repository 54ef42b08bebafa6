#include "platform/win32/one_instance_win32.h"

#include "platform/win32/window_win32.h" // kWin32FormClass

namespace larkmoor {

namespace {

// The main window of the running Larkmoor in this session, restored and brought to the front.
// False when there is none here after a few seconds (it may still be opening its window).
bool BringRunningToFront(const char* title) {
    for (int attempt = 0; attempt < 50; ++attempt, Sleep(100)) {
        HWND window = FindWindowA(kWin32FormClass, title);
        if (!window)
            continue;
        if (IsIconic(window))
            ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        return true;
    }
    return false;
}

} // namespace

bool FirstOnThisPc(const char* title) {
    // The Global\ namespace is one for all sessions (present since XP). The handle stays open for
    // the life of the process, which Windows closes at its end, however it ends.
    const std::string name = std::string("Global\\") + title;
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name.c_str());
    const DWORD error = GetLastError();
    if (mutex && error != ERROR_ALREADY_EXISTS)
        return true;
    // Access is denied where another user's Larkmoor holds the name; on any other failure the
    // PC cannot tell, and two are better than none.
    if (mutex)
        CloseHandle(mutex);
    else if (error != ERROR_ACCESS_DENIED)
        return true;
    if (!BringRunningToFront(title))
        MessageBoxA(nullptr,
                    (std::string(title) + " is already running on this PC, in another user's "
                                          "session. Only one may run, since each sets the clock.")
                        .c_str(),
                    title, MB_OK | MB_ICONINFORMATION);
    return false;
}

} // namespace larkmoor

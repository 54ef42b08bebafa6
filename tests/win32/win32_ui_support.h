#pragma once

// Looking at Win32 windows through the Win32 API, and running the window system's loop for a
// while from a test.

#include "platform/win32/window_win32.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace larkmoor::testing {

inline HWND Hwnd(ui::Window& window) {
    return dynamic_cast<Win32Window&>(window).Handle();
}
inline HWND Child(ui::Window& window, std::string_view name) {
    return dynamic_cast<Win32Window&>(window).ControlHandle(name);
}

inline std::string TextOf(HWND hwnd) {
    char text[512] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

struct Place {
    long left, top, width, height;
    bool operator==(const Place&) const = default;
};
inline void PrintTo(const Place& p, std::ostream* out) {
    *out << "(" << p.left << "," << p.top << ") " << p.width << "x" << p.height;
}
// A control's rectangle in its parent's client area.
inline Place PlaceOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}
inline Place ClientOf(HWND window) {
    RECT r{};
    GetClientRect(window, &r);
    return {0, 0, r.right, r.bottom};
}

inline bool HasStyle(HWND hwnd, LONG style) {
    return (GetWindowLongA(hwnd, GWL_STYLE) & style) == style;
}

// The colours a label is painted with, as its window answers WM_CTLCOLORSTATIC.
struct Painted {
    COLORREF text, back, brush;
};
inline Painted PaintedColours(HWND label) {
    HDC dc = GetDC(label);
    auto brush = reinterpret_cast<HBRUSH>(SendMessageA(GetParent(label), WM_CTLCOLORSTATIC,
                                                       reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(label)));
    LOGBRUSH logBrush{};
    GetObjectA(brush, sizeof logBrush, &logBrush);
    const Painted painted{GetTextColor(dc), GetBkColor(dc), logBrush.lbColor};
    ReleaseDC(label, dc);
    return painted;
}

namespace detail {
inline BOOL CALLBACK Collect(HWND hwnd, LPARAM out) {
    reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
    return TRUE;
}
} // namespace detail

// The visible top-level windows of this thread.
inline std::vector<HWND> ThreadWindows() {
    std::vector<HWND> all, visible;
    EnumThreadWindows(GetCurrentThreadId(), detail::Collect, reinterpret_cast<LPARAM>(&all));
    std::copy_if(all.begin(), all.end(), std::back_inserter(visible), IsWindowVisible);
    return visible;
}

// A message box open on this thread, or null.
inline HWND OpenMessageBox() {
    for (HWND hwnd : ThreadWindows()) {
        char name[16] = "";
        GetClassNameA(hwnd, name, sizeof name);
        if (std::string(name) == "#32770")
            return hwnd;
    }
    return nullptr;
}

// How a RunLoop ended.
enum class Stop { ByItself, Condition, TimeLimit };

namespace detail {
struct Watch {
    std::function<bool()> until;
    std::chrono::steady_clock::time_point deadline;
    Stop stop = Stop::ByItself;
};
inline Watch* watch = nullptr;
inline void CALLBACK Check(HWND, UINT, UINT_PTR, DWORD) {
    if (!watch || watch->stop != Stop::ByItself)
        return;
    if (watch->until && watch->until())
        watch->stop = Stop::Condition;
    else if (std::chrono::steady_clock::now() >= watch->deadline)
        watch->stop = Stop::TimeLimit;
    else
        return;
    PostQuitMessage(0);
}
} // namespace detail

// Runs the loop of `windows` until Run() returns by itself, `until()` holds (looked at every
// 10 ms, also inside modal loops) or `limitMs` have passed.
inline Stop RunLoop(Win32WindowSystem& windows, int limitMs, std::function<bool()> until = {}) {
    detail::Watch watch{std::move(until),
                        std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs)};
    detail::watch = &watch;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, detail::Check);
    windows.Run();
    KillTimer(nullptr, timer);
    detail::watch = nullptr;
    MSG quit; // a quit posted just as Run() returned by itself
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    return watch.stop;
}

// Dispatches this thread's messages for `ms` without the window system's loop.
inline void PumpFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

} // namespace larkmoor::testing

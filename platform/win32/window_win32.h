#pragma once

// The window system on Windows: native Win32 windows. Each ui::FormDecl becomes a top-level window
// of the class kWin32FormClass with its controls, menu and timers; clicks, ticks and closing go
// back to the form. All text goes through the 8-bit (A) functions. The windows themselves are
// private to the backend (widgets_win32.h).

#include "platform/ui.h"

#include <windows.h>

// The headers are held to Windows XP's API; these two come from later systems and are sent only
// by them (a window on XP simply never receives WM_DPICHANGED).
#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif
#ifndef USER_DEFAULT_SCREEN_DPI
#define USER_DEFAULT_SCREEN_DPI 96
#endif

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace larkmoor {

// The window class of every form.
inline constexpr const char* kWin32FormClass = "LarkmoorForm";

class Win32Window;

class Win32WindowSystem : public ui::WindowSystem {
  public:
    explicit Win32WindowSystem(HINSTANCE instance);
    ~Win32WindowSystem() override;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    std::unique_ptr<ui::Window> Create(const ui::FormDecl& form, ui::FormEvents& events) override;
    void ShowMessage(ui::Window* owner, std::string_view text, std::string_view caption) override;
    // Also returns, with its exit code, when the thread receives WM_QUIT.
    int Run() override;
    void End() override;

    // The native window of a window made here, and of one of its declared controls; null once
    // closed.
    static HWND Handle(ui::Window& window);
    static HWND ControlHandle(ui::Window& window, std::string_view control);

  private:
    friend class Win32Window;

    // Ends the program with `why`, which Run says; the first reason is the one said.
    void Fail(std::string why);

    bool AnyOpen() const;
    Win32Window* WindowOf(HWND hwnd) const;
    void Dispatch(MSG& message);
    void Forget(Win32Window* window);

    HINSTANCE instance_;
    std::vector<Win32Window*> windows_; // every window object alive, open or closed
    int modalLoops_ = 0;
    bool ended_ = false;
    std::string failed_; // why the program could not go on
};

} // namespace larkmoor

#pragma once

// The Win32 window system: turns each ui::FormDecl into a native top-level window with its
// controls, menu and timers, and routes clicks, ticks and closing back to the form.
// All text goes through the 8-bit (A) functions.

#include "platform/ui.h"
#include "platform/win32/handles_win32.h"

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

class Win32Control;
class Win32WindowSystem;

class Win32Window : public ui::Window {
  public:
    Win32Window(Win32WindowSystem& system, const ui::FormDecl& form, ui::FormEvents& events);
    ~Win32Window() override;

    ui::Control& Find(std::string_view name) override;
    void SetCaption(std::string_view caption) override;
    std::string Caption() const override;
    void Show() override;
    void Close() override;
    bool IsOpen() const override { return hwnd_ != nullptr; }

    // The native window, and that of a declared control; null once closed.
    HWND Handle() const { return hwnd_; }
    HWND ControlHandle(std::string_view name);
    // The WM_COMMAND id of a declared menu command; 0 for none.
    UINT CommandId(std::string_view name) const;
    // The DPI the window is laid out for.
    int Dpi() const { return dpi_; }

  private:
    friend class Win32WindowSystem;

    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Open(HINSTANCE instance);
    void Layout(int dpi);
    void SizeClientArea();
    void OnCommand(unsigned id);
    void OnTimer(WPARAM id);
    bool OnActivate(bool active);
    void OnDestroyed();
    // Destroys the native window without telling the form.
    void DestroyQuietly();
    bool Live() const;
    Win32Control* ControlOf(HWND hwnd);
    std::string_view ButtonWithRole(ui::Role role) const;
    HBRUSH Background() const;

    Win32WindowSystem* system_;
    ui::FormDecl form_;
    ui::FormEvents& events_;
    std::vector<std::unique_ptr<Win32Control>> controls_; // in tab order
    std::unique_ptr<Win32Control> missing_;               // what Find gives for an unknown name
    std::vector<std::string_view> menuCommands_;          // by command id
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr; // the control to give the focus back to on activation
    Font font_;
    Brush background_;
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    bool quiet_ = false;
};

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

    bool Ended() const { return ended_; }
    HINSTANCE Instance() const { return instance_; }

  private:
    friend class Win32Window;

    bool AnyOpen() const;
    Win32Window* WindowOf(HWND hwnd) const;
    void Dispatch(MSG& message);
    void Forget(Win32Window* window);

    HINSTANCE instance_;
    std::vector<Win32Window*> windows_; // every window object alive, open or closed
    int modalLoops_ = 0;
    bool ended_ = false;
};

} // namespace larkmoor

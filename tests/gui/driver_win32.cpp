// Drives the Win32 window system under Wine, reading the screen back through the Win32 API.
#include "driver.h"
#include "platform/win32/window_win32.h"

#include <chrono>

namespace larkmoor::gui {
namespace {

HWND Hwnd(ui::Window& window, std::string_view control = {}) {
    return control.empty() ? Win32WindowSystem::Handle(window)
                           : Win32WindowSystem::ControlHandle(window, control);
}

BOOL CALLBACK Collect(HWND hwnd, LPARAM out) {
    if (IsWindowVisible(hwnd))
        reinterpret_cast<std::vector<HWND>*>(out)->push_back(hwnd);
    return TRUE;
}
std::vector<HWND> ShownThreadWindows() {
    std::vector<HWND> shown;
    EnumThreadWindows(GetCurrentThreadId(), Collect, reinterpret_cast<LPARAM>(&shown));
    return shown;
}

// What a label's parent answers to WM_CTLCOLORSTATIC: the colours it is painted with.
std::pair<COLORREF, COLORREF> Painted(HWND label) {
    HDC dc = GetDC(label);
    auto brush = reinterpret_cast<HBRUSH>(SendMessageA(GetParent(label), WM_CTLCOLORSTATIC,
                                                       reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(label)));
    LOGBRUSH logBrush{};
    GetObjectA(brush, sizeof logBrush, &logBrush);
    const COLORREF text = GetTextColor(dc);
    ReleaseDC(label, dc);
    return {text, logBrush.lbColor};
}

// What ends Run's loop, looked at by a thread timer, which also fires inside modal loops.
std::function<bool()> stopWhen;
bool stopped = false;
void CALLBACK Check(HWND, UINT, UINT_PTR, DWORD) {
    if (!stopped && (stopped = stopWhen()))
        PostQuitMessage(0);
}

// "caption" of each command of `menu`, "caption>item" for those of its drop-downs.
void MenuEntries(HMENU menu, const std::string& prefix, std::vector<std::string>& entries) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        char text[64] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        if (HMENU dropDown = GetSubMenu(menu, i))
            MenuEntries(dropDown, prefix + text + ">", entries);
        else
            entries.push_back(prefix + text);
    }
}

class Win32Driver : public Driver {
  public:
    ui::WindowSystem& Windows() override { return windows_; }

    Rect Place(ui::Window& window, std::string_view control) override {
        RECT r{};
        if (control.empty()) {
            GetClientRect(Hwnd(window), &r);
        } else {
            GetWindowRect(Hwnd(window, control), &r);
            MapWindowPoints(nullptr, Hwnd(window), reinterpret_cast<POINT*>(&r), 2);
        }
        return {r.left, r.top, r.right - r.left, r.bottom - r.top};
    }
    std::pair<ui::Colour, ui::Colour> Colours(ui::Window& window, std::string_view label) override {
        return Painted(Hwnd(window, label));
    }
    std::vector<std::string> Menu(ui::Window& window) override {
        std::vector<std::string> entries;
        MenuEntries(GetMenu(Hwnd(window)), "", entries);
        return entries;
    }
    bool HasFocus(ui::Window& window, std::string_view control) override {
        return GetFocus() && GetFocus() == Hwnd(window, control);
    }
    int ShownWindows() override { return static_cast<int>(ShownThreadWindows().size()); }
    std::string MessageText(bool dismiss) override {
        for (HWND box : ShownThreadWindows()) {
            char name[16] = "", caption[256] = "", text[256] = "";
            GetClassNameA(box, name, sizeof name);
            if (std::string_view(name) != "#32770") // the dialog class of a message box
                continue;
            GetWindowTextA(box, caption, sizeof caption);
            GetDlgItemTextA(box, 0xFFFF, text, sizeof text); // the message's static control
            if (dismiss)
                PostMessageA(box, WM_COMMAND, IDOK, 0);
            return std::string(caption) + ": " + text;
        }
        return {};
    }
    // As Windows does when the window is dragged to such a screen.
    bool MoveToDpi(ui::Window& window, int dpi) override {
        RECT suggested{};
        GetWindowRect(Hwnd(window), &suggested);
        SendMessageA(Hwnd(window), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        return true;
    }

    void Press(Key key) override {
        const WPARAM vk = key == Key::Enter ? VK_RETURN : VK_ESCAPE;
        PostMessageA(GetFocus(), WM_KEYDOWN, vk, 0);
    }
    void Act(ui::Window& window, std::string_view name) override {
        if (name.empty())
            PostMessageA(Hwnd(window), WM_CLOSE, 0, 0);
        else if (const UINT id = Win32WindowSystem::CommandId(window, name))
            PostMessageA(Hwnd(window), WM_COMMAND, id, 0);
        else
            PostMessageA(Hwnd(window, name), BM_CLICK, 0, 0);
    }

    std::optional<int> Run(int limitMs, std::function<bool()> until) override {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
        stopWhen = [&] {
            return (until && until()) || std::chrono::steady_clock::now() >= deadline;
        };
        stopped = false;
        const UINT_PTR timer = SetTimer(nullptr, 0, 10, Check);
        const int code = windows_.Run();
        KillTimer(nullptr, timer);
        MSG quit; // one posted just as the loop ended by itself
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        return stopped ? std::nullopt : std::optional(code);
    }

  private:
    Win32WindowSystem windows_{GetModuleHandleA(nullptr)};
};

} // namespace

std::unique_ptr<Driver> MakeDriver() {
    return std::make_unique<Win32Driver>();
}

} // namespace larkmoor::gui

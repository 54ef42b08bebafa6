// Drives the Win32 window system under Wine, reading the screen back through the Win32 API.
#include "driver.h"
#include "platform/win32/window_win32.h"

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

// What ends Run's loop, looked at by a thread timer, which also fires inside modal loops. Once it
// held, the loop ends when the thread has taken the input sent to it, which a WM_QUIT would pass.
std::function<bool()> stopWhen;
bool met = false;
void CALLBACK Check(HWND, UINT, UINT_PTR, DWORD) {
    if ((met = met || stopWhen()) && !HIWORD(GetQueueStatus(QS_INPUT)))
        PostQuitMessage(0);
}

// Each key pressed and let go in turn, as the keyboard gives them to the foreground window.
void Type(std::vector<BYTE> keys) {
    for (BYTE key : keys) {
        keybd_event(key, 0, 0, 0);
        keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
    }
}

// The position of the item of `menu` captioned `caption`; -1 for none.
int Position(HMENU menu, std::string_view caption) {
    for (int i = 0; menu && i < GetMenuItemCount(menu); ++i) {
        char text[64] = "";
        GetMenuStringA(menu, i, text, sizeof text, MF_BYPOSITION);
        if (caption == text)
            return i;
    }
    return -1;
}

// The keys that choose the command at `path` of a menu bar: Alt to the first title, Right on to
// the one captioned, Down into its drop-down and on to the command, Enter; none where the bar has
// no such command.
std::vector<BYTE> MenuKeys(HMENU bar, std::string_view path) {
    const std::size_t split = path.find('>');
    const int title = Position(bar, path.substr(0, split));
    const int item =
        split == path.npos ? -1 : Position(GetSubMenu(bar, title), path.substr(split + 1));
    if (title < 0 || (split != path.npos && item < 0))
        return {};
    std::vector<BYTE> keys{VK_MENU};
    keys.insert(keys.end(), title, VK_RIGHT);
    keys.insert(keys.end(), item + 1, VK_DOWN);
    keys.push_back(VK_RETURN);
    return keys;
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
    // What the label's parent answers to WM_CTLCOLORSTATIC: the colours it is painted with.
    std::pair<ui::Colour, ui::Colour> Colours(ui::Window& window, std::string_view name) override {
        const HWND label = Hwnd(window, name);
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
                Type({VK_RETURN}); // on OK, its default button, as it is in front
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

    void Press(Key key) override { Type({BYTE(key == Key::Enter ? VK_RETURN : VK_ESCAPE)}); }
    // From the keyboard, as a user who knows the menu's captions.
    void Choose(ui::Window& window, std::string_view path) override {
        SetForegroundWindow(Hwnd(window));
        Type(MenuKeys(GetMenu(Hwnd(window)), path));
    }
    // A button with the mouse, the frame closed with Alt+F4.
    void Act(ui::Window& window, std::string_view name) override {
        SetForegroundWindow(Hwnd(window));
        if (name.empty()) {
            keybd_event(VK_MENU, 0, 0, 0);
            Type({VK_F4});
            keybd_event(VK_MENU, 0, KEYEVENTF_KEYUP, 0);
        } else { // the mouse moved to its middle, its left button pressed and let go
            RECT r{};
            GetWindowRect(Hwnd(window, name), &r);
            SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2);
            mouse_event(MOUSEEVENTF_LEFTDOWN, 0, 0, 0, 0);
            mouse_event(MOUSEEVENTF_LEFTUP, 0, 0, 0, 0);
        }
    }

    std::optional<int> Run(int limitMs, std::function<bool()> until) override {
        const DWORD start = GetTickCount();
        stopWhen = [&] { return (until && until()) || GetTickCount() - start >= DWORD(limitMs); };
        met = false;
        const UINT_PTR timer = SetTimer(nullptr, 0, 10, Check);
        const int code = windows_.Run();
        KillTimer(nullptr, timer);
        MSG quit; // one posted just as the loop ended by itself
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        return met ? std::nullopt : std::optional(code);
    }

  private:
    Win32WindowSystem windows_{GetModuleHandleA(nullptr)};
};

} // namespace

std::unique_ptr<Driver> MakeDriver() {
    return std::make_unique<Win32Driver>();
}

} // namespace larkmoor::gui

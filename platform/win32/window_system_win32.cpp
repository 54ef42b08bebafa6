#include "platform/win32/widgets_win32.h"

#include "version.h"

#include <algorithm>

namespace larkmoor {

Win32WindowSystem::Win32WindowSystem(HINSTANCE instance) : instance_(instance) {
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Win32Window::Proc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconId));
    windowClass.hIconSm = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(kIconId),
                                                        IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWin32FormClass;
    RegisterClassExA(&windowClass); // fails harmlessly when an earlier instance registered it
}

Win32WindowSystem::~Win32WindowSystem() {
    for (Win32Window* window : windows_) {
        window->DestroyQuietly();
        window->system_ = nullptr;
    }
}

std::unique_ptr<ui::Window> Win32WindowSystem::Create(const ui::FormDecl& form,
                                                      ui::FormEvents& events) {
    auto window = std::make_unique<Win32Window>(*this, form, events);
    if (!ended_)
        window->Open(instance_);
    return window;
}

void Win32WindowSystem::ShowMessage(ui::Window* owner, std::string_view text,
                                    std::string_view caption) {
    if (ended_)
        return;
    auto* window = dynamic_cast<Win32Window*>(owner);
    ++modalLoops_;
    MessageBoxA(window ? window->Handle() : nullptr, std::string(text).c_str(),
                std::string(caption).c_str(), MB_OK);
    --modalLoops_;
    if (ended_) {
        // The box was ended by End's WM_QUIT, which it has posted again: take it back.
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
}

int Win32WindowSystem::Run() {
    MSG message{};
    int code = 0;
    while (!ended_ && AnyOpen()) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            code = static_cast<int>(message.wParam);
            break;
        }
        if (got < 0)
            break;
        Dispatch(message);
    }
    if (failed_.empty())
        return code;
    MessageBoxA(nullptr, failed_.c_str(), kTitle, MB_OK | MB_ICONERROR);
    return 1;
}

void Win32WindowSystem::Fail(std::string why) {
    if (failed_.empty())
        failed_ = std::move(why);
    End();
}

void Win32WindowSystem::End() {
    if (ended_)
        return;
    ended_ = true; // from here on no event reaches a form
    for (Win32Window* window : windows_)
        window->Close();
    if (modalLoops_ > 0)
        PostQuitMessage(0); // ends a message box's own loop
}

bool Win32WindowSystem::AnyOpen() const {
    return std::any_of(windows_.begin(), windows_.end(), [](auto* w) { return w->IsOpen(); });
}

Win32Window* Win32WindowSystem::WindowOf(HWND hwnd) const {
    for (Win32Window* window : windows_) {
        if (window->Handle() == hwnd)
            return window;
    }
    return nullptr;
}

// Tab, access keys, Enter and Escape work as in a dialog box in the active window.
void Win32WindowSystem::Dispatch(MSG& message) {
    HWND active = GetActiveWindow();
    if (active && WindowOf(active) && IsDialogMessageA(active, &message))
        return;
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

HWND Win32WindowSystem::Handle(ui::Window& window) {
    return dynamic_cast<Win32Window&>(window).Handle();
}

HWND Win32WindowSystem::ControlHandle(ui::Window& window, std::string_view control) {
    return dynamic_cast<Win32Window&>(window).ControlHandle(control);
}

void Win32WindowSystem::Forget(Win32Window* window) {
    windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
}

} // namespace larkmoor

// How a native window lives and dies: it is made from its form's declaration, laid out for its DPI,
// and its messages are dispatched to the form's events until it is destroyed. One file: the window
// procedure and the handlers it calls share the window's state and read best together.
#include "platform/win32/system_message_win32.h"
#include "platform/win32/widgets_win32.h"

#include <algorithm>
#include <climits>

namespace larkmoor {

namespace {

constexpr unsigned kFirstControlId = 100;
constexpr unsigned kFirstMenuId = 1000;

DWORD FrameStyle(ui::Frame frame) {
    constexpr DWORD fixed = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    return frame == ui::Frame::Single ? fixed | WS_MINIMIZEBOX : fixed;
}

DWORD FrameExStyle(ui::Frame frame) {
    return frame == ui::Frame::Dialog ? WS_EX_DLGMODALFRAME : 0;
}

// Appends `items` to `menu`: entries with items become drop-downs, the others commands whose
// names are kept in `commands` by id.
HMENU BuildMenu(std::span<const ui::MenuDecl> items, HMENU menu,
                std::vector<std::string_view>& commands) {
    for (const ui::MenuDecl& item : items) {
        const std::string caption(item.caption);
        if (!item.items.empty()) {
            HMENU dropDown = BuildMenu(item.items, CreatePopupMenu(), commands);
            AppendMenuA(menu, MF_POPUP, reinterpret_cast<UINT_PTR>(dropDown), caption.c_str());
        } else {
            AppendMenuA(menu, MF_STRING, kFirstMenuId + commands.size(), caption.c_str());
            commands.push_back(item.name);
        }
    }
    return menu;
}

// A dialog opens in the middle of the screen's work area, as dialog boxes do.
void CentreOnWorkArea(HWND hwnd) {
    RECT work{}, frame{};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    GetWindowRect(hwnd, &frame);
    const int x = (work.left + work.right - (frame.right - frame.left)) / 2;
    const int y = (work.top + work.bottom - (frame.bottom - frame.top)) / 2;
    SetWindowPos(hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Controls are made in tab order, so that the Z-order is the focus order; no tab index goes last.
int TabKey(const ui::ControlDecl& decl) {
    return decl.tabIndex < 0 ? INT_MAX : decl.tabIndex;
}

} // namespace

Win32Window::Win32Window(Win32WindowSystem& system, const ui::FormDecl& form,
                         ui::FormEvents& events)
    : system_(&system), form_(form), events_(events),
      missing_(std::make_unique<Win32Control>(ui::ControlDecl{})) {
    std::vector<const ui::ControlDecl*> order;
    for (const ui::ControlDecl& decl : form.controls)
        order.push_back(&decl);
    std::stable_sort(order.begin(), order.end(),
                     [](auto* a, auto* b) { return TabKey(*a) < TabKey(*b); });
    for (const ui::ControlDecl* decl : order)
        controls_.push_back(std::make_unique<Win32Control>(*decl));
    system.windows_.push_back(this);
}

Win32Window::~Win32Window() {
    DestroyQuietly();
    if (system_)
        system_->Forget(this);
}

ui::Control& Win32Window::Find(std::string_view name) {
    for (auto& control : controls_) {
        if (control->Decl().name == name)
            return *control;
    }
    if (system_)
        system_->Fail(ui::UndeclaredControl(form_.name, name));
    return *missing_;
}

HWND Win32Window::ControlHandle(std::string_view name) {
    return static_cast<Win32Control&>(Find(name)).Handle();
}

void Win32Window::SetCaption(std::string_view caption) {
    if (hwnd_)
        SetWindowTextA(hwnd_, std::string(caption).c_str());
}

std::string Win32Window::Caption() const {
    return WindowText(hwnd_);
}

void Win32Window::Show() {
    if (!hwnd_)
        return;
    ShowWindow(hwnd_, IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
    BringWindowToTop(hwnd_);
    SetForegroundWindow(hwnd_);
}

void Win32Window::Close() {
    if (hwnd_)
        DestroyWindow(hwnd_); // WM_NCDESTROY does the rest
}

void Win32Window::DestroyQuietly() {
    quiet_ = true;
    Close();
}

void Win32Window::Open(HINSTANCE instance) {
    HMENU menu = form_.menu.empty() ? nullptr : BuildMenu(form_.menu, CreateMenu(), menuCommands_);
    if (!CreateWindowExA(FrameExStyle(form_.frame), kWin32FormClass,
                         std::string(form_.caption).c_str(), FrameStyle(form_.frame), CW_USEDEFAULT,
                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, menu, instance,
                         this)) {
        const DWORD error = GetLastError();
        if (menu)
            DestroyMenu(menu);
        system_->Fail("Larkmoor could not open its window " + std::string(form_.name) + ": " +
                      SystemMessage(error));
        return;
    }
    background_.Reset(MakeBrush(form_.backColour));
    for (std::size_t i = 0; i < controls_.size(); ++i)
        controls_[i]->Create(hwnd_, kFirstControlId + i, instance);
    Layout(WindowDpi(hwnd_));
    if (form_.frame == ui::Frame::Dialog)
        CentreOnWorkArea(hwnd_);
    for (std::size_t i = 0; i < form_.timers.size(); ++i) {
        if (form_.timers[i].enabled)
            SetTimer(hwnd_, i + 1, form_.timers[i].intervalMs, nullptr);
    }
}

void Win32Window::Layout(int dpi) {
    dpi_ = dpi;
    Font font(MessageFont(dpi)); // the controls' old font is freed once they have the new one
    for (auto& control : controls_)
        control->Place(dpi, font.Get(), system_->instance_);
    font_ = std::move(font);
    SizeClientArea();
}

void Win32Window::SizeClientArea() {
    const int width = ui::TwipsToPixels(form_.clientWidth, dpi_);
    const int height = ui::TwipsToPixels(form_.clientHeight, dpi_);
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, FrameStyle(form_.frame), GetMenu(hwnd_) != nullptr,
                       FrameExStyle(form_.frame));
    const auto resize = [&] {
        SetWindowPos(hwnd_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    };
    resize();
    // The frame's metrics at another DPI, or a menu bar on two lines, differ from what
    // AdjustWindowRectEx supposes: measure and correct once.
    RECT client{};
    GetClientRect(hwnd_, &client);
    if (client.right != width || client.bottom != height) {
        frame.right += width - client.right;
        frame.bottom += height - client.bottom;
        resize();
    }
}

LRESULT CALLBACK Win32Window::Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* window =
            static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        window->hwnd_ = hwnd;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    auto* window = reinterpret_cast<Win32Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    return window ? window->OnMessage(message, wParam, lParam)
                  : DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT Win32Window::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) != 0) // a notification other than a click or a menu command
            break;
        OnCommand(LOWORD(wParam));
        return 0;
    case WM_TIMER:
        OnTimer(wParam);
        return 0;
    case WM_CTLCOLORSTATIC:
        if (Win32Control* control = ControlOf(reinterpret_cast<HWND>(lParam)))
            return reinterpret_cast<LRESULT>(control->Colours(reinterpret_cast<HDC>(wParam)));
        break;
    case WM_CTLCOLORBTN:
        return reinterpret_cast<LRESULT>(Background());
    case WM_ERASEBKGND: {
        RECT client{};
        GetClientRect(hwnd_, &client);
        FillRect(reinterpret_cast<HDC>(wParam), &client, Background());
        return 1;
    }
    case WM_ACTIVATE:
        if (OnActivate(LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)))
            return 0;
        break;
    case WM_DPICHANGED: {
        // Windows' suggested place and size for the new DPI are taken as they are, so that the
        // window stays on the screen it was moved to; Layout then only corrects the client area
        // where the frame's metrics round differently.
        const RECT& suggested = *reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hwnd_, nullptr, suggested.left, suggested.top,
                     suggested.right - suggested.left, suggested.bottom - suggested.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        Layout(LOWORD(wParam));
        return 0;
    }
    case WM_DESTROY:
        for (std::size_t i = 0; i < form_.timers.size(); ++i)
            KillTimer(hwnd_, i + 1);
        break;
    case WM_NCDESTROY: {
        HWND hwnd = hwnd_;
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        DefWindowProcA(hwnd, message, wParam, lParam);
        OnDestroyed(); // may run the form's Unload, which may delete this object
        return 0;
    }
    }
    return DefWindowProcA(hwnd_, message, wParam, lParam);
}

// Clicks of buttons and menu commands; IDOK and IDCANCEL come from Enter and Escape.
void Win32Window::OnCommand(unsigned id) {
    std::string_view name;
    if (id == IDOK)
        name = ButtonWithRole(ui::kDefault);
    else if (id == IDCANCEL)
        name = ButtonWithRole(ui::kCancel);
    else if (id >= kFirstMenuId && id - kFirstMenuId < menuCommands_.size())
        name = menuCommands_[id - kFirstMenuId];
    else if (id >= kFirstControlId && id - kFirstControlId < controls_.size() &&
             controls_[id - kFirstControlId]->IsButton())
        name = controls_[id - kFirstControlId]->Decl().name;
    if (!name.empty() && Live())
        events_.Click(name);
}

void Win32Window::OnTimer(WPARAM id) {
    if (id >= 1 && id <= form_.timers.size() && Live())
        events_.Timer(form_.timers[id - 1].name);
}

// Keeps the focus on the control that had it while the window was in the background; a window
// activated for the first time gives it to its first button. False to let Windows handle it.
bool Win32Window::OnActivate(bool active) {
    if (!active) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd_, focus))
            focus_ = focus;
        return false;
    }
    HWND target = focus_ && IsWindowVisible(focus_) ? focus_ : nullptr;
    for (auto it = controls_.begin(); !target && it != controls_.end(); ++it) {
        if ((*it)->IsButton() && (*it)->Visible())
            target = (*it)->Handle();
    }
    SetFocus(target ? target : hwnd_);
    return true;
}

void Win32Window::OnDestroyed() {
    hwnd_ = nullptr;
    // A WM_CLOSE sent from another thread or process (setup, the uninstaller, a task manager) is
    // handled inside GetMessage, which returns only for a posted message: this one wakes the loop,
    // which then sees that no window is open.
    PostMessageA(nullptr, WM_NULL, 0, 0);
    focus_ = nullptr;
    for (auto& control : controls_)
        control->Release();
    font_.Reset();
    background_.Reset();
    if (!quiet_ && system_ && !system_->ended_)
        events_.Unload();
}

bool Win32Window::Live() const {
    return hwnd_ && system_ && !system_->ended_;
}

Win32Control* Win32Window::ControlOf(HWND hwnd) {
    for (auto& control : controls_) {
        if (control->Handle() == hwnd)
            return control.get();
    }
    return nullptr;
}

std::string_view Win32Window::ButtonWithRole(ui::Role role) const {
    for (const auto& control : controls_) {
        if (control->IsButton() && (control->Decl().roles & role))
            return control->Decl().name;
    }
    return {};
}

HBRUSH Win32Window::Background() const {
    return background_ ? background_.Get() : GetSysColorBrush(COLOR_BTNFACE);
}

} // namespace larkmoor

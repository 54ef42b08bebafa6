#include "platform/win32/window_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>

namespace larkmoor {

namespace {

constexpr int kIconId = 1; // the program icon in the module's resources
constexpr unsigned kFirstControlId = 100;
constexpr unsigned kFirstMenuId = 1000;

// The text of a native window; empty when there is none.
std::string WindowText(HWND hwnd) {
    if (!hwnd)
        return {};
    std::string text(GetWindowTextLengthA(hwnd) + 1, '\0');
    text.resize(GetWindowTextA(hwnd, text.data(), static_cast<int>(text.size())));
    return text;
}

int ScreenDpi(HWND hwnd) {
    HDC dc = GetDC(hwnd);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSX);
    ReleaseDC(hwnd, dc);
    return dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

// GetDpiForWindow is looked up at run time so that the program still loads where it is missing
// (before Windows 10); there the screen's DPI serves.
int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow) {
        if (const UINT dpi = getDpiForWindow(hwnd))
            return static_cast<int>(dpi);
    }
    return ScreenDpi(hwnd);
}

// The system's message font, scaled from the system DPI to `dpi`.
HFONT MessageFont(int dpi) {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    if (!SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return nullptr;
    LOGFONTA& font = metrics.lfMessageFont;
    font.lfHeight = MulDiv(font.lfHeight, dpi, ScreenDpi(nullptr));
    return CreateFontIndirectA(&font);
}

COLORREF Resolve(ui::Colour colour, int systemColour) {
    return colour == ui::kSystemColour ? GetSysColor(systemColour) : colour;
}

// A brush of a declared colour; null for the system's colour, whose brush the system keeps.
HBRUSH MakeBrush(ui::Colour colour) {
    return colour == ui::kSystemColour ? nullptr : CreateSolidBrush(colour);
}

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

// The program icon at its normal size for `dpi` (32 pixels at 96 dpi).
HICON ProgramIcon(HINSTANCE instance, int dpi) {
    const int size = MulDiv(32, dpi, USER_DEFAULT_SCREEN_DPI);
    return static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(kIconId), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
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

class Win32Control : public ui::Control {
  public:
    explicit Win32Control(const ui::ControlDecl& decl) : decl_(decl) {}
    ~Win32Control() override { Release(); }

    // An unchanged text is not set again: the time label is written on every tick and would
    // be repainted each time.
    void SetText(std::string_view text) override {
        if (hwnd_ && Text() != text)
            SetWindowTextA(hwnd_, std::string(text).c_str());
    }
    std::string Text() const override { return WindowText(hwnd_); }
    void SetVisible(bool visible) override {
        if (hwnd_)
            ShowWindow(hwnd_, visible ? SW_SHOWNA : SW_HIDE);
    }
    bool Visible() const override {
        return hwnd_ && (GetWindowLongA(hwnd_, GWL_STYLE) & WS_VISIBLE);
    }
    // The tip window is made on first use and goes with the form, which owns it. The text last
    // given is kept here, so that the watcher's tooltip on every tick costs no message.
    void SetToolTip(std::string_view text) override {
        if (!hwnd_ || (tip_ && toolTip_ == text))
            return;
        toolTip_ = text;
        TTTOOLINFOA tool = ToolInfo(toolTip_.data());
        if (!tip_) {
            tip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0,
                                   0, GetParent(hwnd_), nullptr, nullptr, nullptr);
            ScaleTipWidth();
            SendMessageA(tip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
        } else {
            SendMessageA(tip_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
        }
    }
    std::string ToolTip() const override {
        if (!tip_)
            return {};
        char text[1024] = "";
        TTTOOLINFOA tool = ToolInfo(text);
        SendMessageA(tip_, TTM_GETTEXTA, sizeof text, reinterpret_cast<LPARAM>(&tool));
        return text;
    }

    const ui::ControlDecl& Decl() const { return decl_; }
    HWND Handle() const { return hwnd_; }
    bool IsButton() const { return decl_.kind == ui::ControlKind::Button; }

    void Create(HWND parent, unsigned id, HINSTANCE instance) {
        hwnd_ = CreateWindowExA(
            0, IsButton() ? "BUTTON" : "STATIC", std::string(decl_.text).c_str(), Style(), 0, 0, 0,
            0, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), instance, nullptr);
        brush_ = MakeBrush(decl_.backColour);
    }

    // Puts the control at its place for `dpi`, in `font`; a picture takes the icon of that size.
    void Place(int dpi, HFONT font, HINSTANCE instance) {
        if (!hwnd_)
            return;
        dpi_ = dpi;
        ScaleTipWidth();
        const auto px = [dpi](int twips) { return ui::TwipsToPixels(twips, dpi); };
        SetWindowPos(hwnd_, nullptr, px(decl_.left), px(decl_.top), px(decl_.width),
                     px(decl_.height), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
        if (decl_.kind == ui::ControlKind::Picture)
            SetIcon(ProgramIcon(instance, dpi));
    }

    // Sets up `dc` for painting a label or picture; returns its background brush.
    HBRUSH Colours(HDC dc) const {
        SetTextColor(dc, Resolve(decl_.foreColour, COLOR_BTNTEXT));
        SetBkColor(dc, Resolve(decl_.backColour, COLOR_BTNFACE));
        return brush_ ? brush_ : GetSysColorBrush(COLOR_BTNFACE);
    }

    // Forgets the native control, gone with its window, and frees what it was drawn with.
    void Release() {
        hwnd_ = nullptr;
        tip_ = nullptr; // owned by the window, and gone with it
        toolTip_.clear();
        if (brush_)
            DeleteObject(brush_);
        if (icon_)
            DestroyIcon(icon_);
        brush_ = nullptr;
        icon_ = nullptr;
    }

  private:
    // A maximum width lets "\n" break the tip's lines: 480 pixels at 96 dpi, scaled to the DPI.
    void ScaleTipWidth() {
        if (tip_)
            SendMessageA(tip_, TTM_SETMAXTIPWIDTH, 0, MulDiv(480, dpi_, USER_DEFAULT_SCREEN_DPI));
    }

    // The control as a tool of its tip window. The size is that of the oldest common controls,
    // which every version accepts.
    TTTOOLINFOA ToolInfo(char* text) const {
        TTTOOLINFOA tool{};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = GetParent(hwnd_);
        tool.uId = reinterpret_cast<UINT_PTR>(hwnd_);
        tool.lpszText = text;
        return tool;
    }

    DWORD Style() const {
        const DWORD common = WS_CHILD | (decl_.visible ? WS_VISIBLE : 0);
        switch (decl_.kind) {
        case ui::ControlKind::Label:
            // SS_NOTIFY lets the pointer reach the label, and so its tip.
            return common | SS_NOPREFIX | SS_NOTIFY |
                   (decl_.wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP);
        case ui::ControlKind::Button:
            return common | WS_TABSTOP |
                   (decl_.roles & ui::kDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        case ui::ControlKind::Picture:
            return common | SS_ICON | SS_CENTERIMAGE; // keeps its declared size
        }
        return common;
    }

    void SetIcon(HICON icon) {
        SendMessageA(hwnd_, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
        if (icon_)
            DestroyIcon(icon_);
        icon_ = icon;
    }

    ui::ControlDecl decl_;
    HWND hwnd_ = nullptr;
    HWND tip_ = nullptr;
    std::string toolTip_; // the tip's text, which tool infos point to
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    HBRUSH brush_ = nullptr;
    HICON icon_ = nullptr;
};

// --- Win32Window ---

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
    return *missing_;
}

HWND Win32Window::ControlHandle(std::string_view name) {
    return static_cast<Win32Control&>(Find(name)).Handle();
}

UINT Win32Window::CommandId(std::string_view name) const {
    const auto it = std::find(menuCommands_.begin(), menuCommands_.end(), name);
    return it == menuCommands_.end() ? 0 : kFirstMenuId + (it - menuCommands_.begin());
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
        if (menu)
            DestroyMenu(menu);
        return;
    }
    background_ = MakeBrush(form_.backColour);
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
    HFONT previous = font_;
    font_ = MessageFont(dpi);
    for (auto& control : controls_)
        control->Place(dpi, font_, system_->Instance());
    if (previous)
        DeleteObject(previous);
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
    focus_ = nullptr;
    for (auto& control : controls_)
        control->Release();
    if (font_)
        DeleteObject(font_);
    if (background_)
        DeleteObject(background_);
    font_ = nullptr;
    background_ = nullptr;
    if (!quiet_ && system_ && !system_->Ended())
        events_.Unload();
}

bool Win32Window::Live() const {
    return hwnd_ && system_ && !system_->Ended();
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
    return background_ ? background_ : GetSysColorBrush(COLOR_BTNFACE);
}

// --- Win32WindowSystem ---

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
    while (!ended_ && AnyOpen()) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got < 0)
            break;
        Dispatch(message);
    }
    return 0;
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

void Win32WindowSystem::Forget(Win32Window* window) {
    windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
}

} // namespace larkmoor

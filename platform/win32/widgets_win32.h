#pragma once

// The native windows behind a form: its top-level window and its declared controls (a static
// label or picture, or a button, with its tooltip), and the drawing helpers they share.

#include "platform/ui.h"
#include "platform/win32/handles_win32.h"
#include "platform/win32/window_win32.h"

#include <commctrl.h>

#include <string>
#include <string_view>

namespace larkmoor {

inline constexpr int kIconId = 1; // the program icon in the module's resources

// The text of a native window; empty when there is none.
std::string WindowText(HWND hwnd);
// The DPI of the window's screen; on Windows 10 and later that of the window itself.
int WindowDpi(HWND hwnd);
// The system's message font, scaled from the system DPI to `dpi`.
HFONT MessageFont(int dpi);
COLORREF Resolve(ui::Colour colour, int systemColour);
// A brush of a declared colour; null for the system's colour, whose brush the system keeps.
HBRUSH MakeBrush(ui::Colour colour);
// The program icon at its normal size for `dpi` (32 pixels at 96 dpi).
HICON ProgramIcon(HINSTANCE instance, int dpi);

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
        // Read wide: the narrow form gives at most 80 characters on older common controls and
        // on Wine, whatever the buffer. The two tool structures differ only in the text pointer's
        // type.
        wchar_t text[1024] = L"";
        TTTOOLINFOA tool = ToolInfo(reinterpret_cast<char*>(text));
        SendMessageW(tip_, TTM_GETTEXTW, std::size(text), reinterpret_cast<LPARAM>(&tool));
        char narrow[2048] = "";
        WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
        return narrow;
    }

    const ui::ControlDecl& Decl() const { return decl_; }
    HWND Handle() const { return hwnd_; }
    bool IsButton() const { return decl_.kind == ui::ControlKind::Button; }

    void Create(HWND parent, unsigned id, HINSTANCE instance) {
        hwnd_ = CreateWindowExA(
            0, IsButton() ? "BUTTON" : "STATIC", std::string(decl_.text).c_str(), Style(), 0, 0, 0,
            0, parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), instance, nullptr);
        brush_.Reset(MakeBrush(decl_.backColour));
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
        return brush_ ? brush_.Get() : GetSysColorBrush(COLOR_BTNFACE);
    }

    // Forgets the native control, gone with its window, and frees what it was drawn with.
    void Release() {
        hwnd_ = nullptr;
        tip_ = nullptr; // owned by the window, and gone with it
        toolTip_.clear();
        brush_.Reset();
        icon_.Reset();
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
        icon_.Reset(icon);
    }

    ui::ControlDecl decl_;
    HWND hwnd_ = nullptr;
    HWND tip_ = nullptr;
    std::string toolTip_; // the tip's text, which tool infos point to
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    Brush brush_;
    Icon icon_;
};

// A form's top-level window.
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
    std::unique_ptr<Win32Control> missing_; // what Find gives for an undeclared name, after Fail
    std::vector<std::string_view> menuCommands_; // by command id
    HWND hwnd_ = nullptr;
    HWND focus_ = nullptr; // the control to give the focus back to on activation
    Font font_;
    Brush background_;
    int dpi_ = USER_DEFAULT_SCREEN_DPI;
    bool quiet_ = false;
};

} // namespace larkmoor

#pragma once

// The window-system layer: windows are declared once as plain data (FormDecl) and drawn by
// whichever backend the platform has (Win32 on Windows, Qt on Linux). Events come back to the
// form through FormEvents by control name; forms never see a backend type.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace larkmoor::ui {

// 0x00BBGGRR, as window descriptions keep colours.
using Colour = std::uint32_t;
constexpr Colour Rgb(int r, int g, int b) {
    return static_cast<Colour>(r) | static_cast<Colour>(g) << 8 | static_cast<Colour>(b) << 16;
}
constexpr int Red(Colour c) {
    return c & 0xFF;
}
constexpr int Green(Colour c) {
    return (c >> 8) & 0xFF;
}
constexpr int Blue(Colour c) {
    return (c >> 16) & 0xFF;
}
// The platform's own colour for that part of the control.
inline constexpr Colour kSystemColour = 0xFFFFFFFF;

// Twips (1/1440 inch) to pixels at `dpi`; 15 twips make one pixel at 96 dpi.
constexpr int TwipsToPixels(int twips, int dpi) {
    return (twips * dpi + 720) / 1440;
}

enum class ControlKind { Label, Button, Picture };

// Button roles: Enter presses the default button, Escape the cancel button.
enum Role : unsigned { kNoRole = 0, kDefault = 1, kCancel = 2 };

struct ControlDecl {
    std::string_view name;
    ControlKind kind;
    int left, top, width, height; // twips, relative to the client area
    int tabIndex;                 // focus order, 0 first; -1 for none
    std::string_view text;        // '&' before a letter marks a button's access key
    Colour foreColour = kSystemColour;
    Colour backColour = kSystemColour;
    bool visible = true;
    bool wordWrap = false;
    unsigned roles = kNoRole;
};

// A menu entry; one with items is a drop-down on the menu bar, one without is a command.
struct MenuDecl {
    std::string_view name;
    std::string_view caption;
    std::span<const MenuDecl> items = {};
};

struct TimerDecl {
    std::string_view name;
    int intervalMs;
    bool enabled;
};

// Both are fixed in size: a main window frame with a minimize box, or a dialog frame.
enum class Frame { Single, Dialog };

struct FormDecl {
    std::string_view name;
    std::string_view caption;
    int clientWidth, clientHeight; // twips
    Colour backColour;
    std::span<const ControlDecl> controls;
    std::span<const MenuDecl> menu = {};
    std::span<const TimerDecl> timers = {};
    Frame frame = Frame::Single;
};

// What a backend reports back to a form. All calls come on the user-interface thread.
class FormEvents {
  public:
    virtual ~FormEvents() = default;
    virtual void Click(std::string_view /*control or menu entry*/) {}
    virtual void Timer(std::string_view /*timer*/) {}
    // The window has closed (its frame, the form's own Close, or the end of the program);
    // its timers have stopped.
    virtual void Unload() {}
};

class Control {
  public:
    virtual ~Control() = default;
    virtual void SetText(std::string_view text) = 0;
    virtual std::string Text() const = 0;
    virtual void SetVisible(bool visible) = 0;
    virtual bool Visible() const = 0;
    // The text shown while the pointer rests on the control; empty for none.
    virtual void SetToolTip(std::string_view text) = 0;
    virtual std::string ToolTip() const = 0;
};

class Window {
  public:
    virtual ~Window() = default;
    // A control of the declaration by name; the name must be declared.
    virtual Control& Find(std::string_view name) = 0;
    virtual void SetCaption(std::string_view caption) = 0;
    virtual std::string Caption() const = 0;
    // Shows the window modeless, without owner, and brings it to the front.
    virtual void Show() = 0;
    // Closes and unloads the window; the object stays as a closed husk.
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
};

// What a backend says when a form asks for a control it did not declare: a fault of the program,
// which it reports and ends with, as it does a window it cannot open.
inline std::string UndeclaredControl(std::string_view form, std::string_view control) {
    return "The window " + std::string(form) + " has no control named " + std::string(control) +
           ": this copy of Larkmoor is faulty.";
}

class WindowSystem {
  public:
    virtual ~WindowSystem() = default;
    // Creates the window of `form`, hidden, with its timers running.
    virtual std::unique_ptr<Window> Create(const FormDecl& form, FormEvents& events) = 0;
    // A modal box with an OK button; returns when the user closes it. Timers keep running.
    virtual void ShowMessage(Window* owner, std::string_view text, std::string_view caption) = 0;
    // Runs the event loop until the last window has closed or End is called. Where a window could
    // not be opened or a form asked for an undeclared control, it says why in a message box and
    // returns nonzero, so that the program's exit code tells it too.
    virtual int Run() = 0;
    // Ends the program at once: every window goes and no further event reaches a form.
    virtual void End() = 0;
};

} // namespace larkmoor::ui

#pragma once

// Drives a real window system as a user would and reads back what is on the screen, so that one
// suite checks both backends.

#include "platform/ui.h"

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace larkmoor::gui {

// Left, top, width, height.
using Rect = std::array<int, 4>;

enum class Key { Enter, Escape };

class Driver {
  public:
    virtual ~Driver() = default;
    virtual ui::WindowSystem& Windows() = 0;

    // Pixels: a control's place in the client area; for "" the client area itself.
    virtual Rect Place(ui::Window& window, std::string_view control) = 0;
    // The text and background colours a label is drawn with.
    virtual std::pair<ui::Colour, ui::Colour> Colours(ui::Window& window,
                                                      std::string_view label) = 0;
    virtual bool HasFocus(ui::Window& window, std::string_view control) = 0;
    // Top-level windows on the screen, message boxes included.
    virtual int ShownWindows() = 0;
    // "caption: text" of an open message box, or empty; `dismiss` presses its OK.
    virtual std::string MessageText(bool dismiss = false) = 0;
    // Moves the window to a screen of `dpi`; false where the window system scales by itself.
    virtual bool MoveToDpi(ui::Window& window, int dpi) = 0;

    // What the user does; it takes effect in the event loop.
    virtual void Press(Key key) = 0; // to the control with the focus
    // Chooses the menu command at `path`, by the captions shown: "Files>Exit", "About".
    virtual void Choose(ui::Window& window, std::string_view path) = 0;
    // Clicks the button `name`; "" closes the window's frame.
    virtual void Act(ui::Window& window, std::string_view name) = 0;

    // Runs the event loop. Its exit code when it ended by itself; nothing when `until` held
    // (looked at every 10 ms, also inside modal loops) or `limitMs` passed first.
    virtual std::optional<int> Run(int limitMs, std::function<bool()> until = {}) = 0;
};

std::unique_ptr<Driver> MakeDriver();

// Runs the event loop until the program ends by itself, pressing OK on the first message box:
// the exit code (nothing if it did not end within 5 s) and what the box said.
inline std::pair<std::optional<int>, std::string> RunPressingOk(Driver& driver) {
    std::string told;
    const std::optional<int> code = driver.Run(5000, [&] {
        if (told.empty())
            told = driver.MessageText(true);
        return false;
    });
    return {code, told};
}

} // namespace larkmoor::gui

#pragma once

#include "platform/ui.h"
#include "watcher/watcher.h"

#include <functional>
#include <memory>

namespace larkmoor {

// The main window: the time, the "Time Set" label, the watcher's timer and the menu.
extern const ui::FormDecl kMnuMenu;

class MnuMenu : public ui::FormEvents {
  public:
    // `openAbout` runs when "About" is chosen.
    MnuMenu(ui::WindowSystem& windows, Port& port, Clock& clock, Readiness& readiness,
            std::function<void()> openAbout);

    void Show() { window_->Show(); }
    ui::Window& Window() { return *window_; }

    void Timer1_Timer() { watcher_.Timer1_Timer(); }
    void mnuExit_Click() { windows_.End(); }
    void mnuAbout_Click();

    void Click(std::string_view name) override;
    void Timer(std::string_view name) override;

  private:
    ui::WindowSystem& windows_;
    std::unique_ptr<ui::Window> window_;
    ClosureWatcher watcher_;
    std::function<void()> openAbout_;
};

} // namespace larkmoor

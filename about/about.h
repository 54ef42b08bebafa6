#pragma once

#include "platform/ui.h"

#include <memory>
#include <string>

namespace larkmoor {

// The About dialog: title, version, description, disclaimer, and the System Info button.
extern const ui::FormDecl kFrmAbout;

inline constexpr const char* kDescription = "Larkmoor by Brisden June 9, 2005";
inline constexpr const char* kDisclaimer =
    "Warning:  This program changes the clock of this computer.  Each time pin 15 of the first "
    "parallel port is connected to pin 18 (ground), the clock is set to HH:54:30 of the current "
    "hour.  Run it only on a computer whose clock may be changed this way.";

// "Version major.minor.revision".
std::string VersionText();

class FrmAbout : public ui::FormEvents {
  public:
    explicit FrmAbout(ui::WindowSystem& windows) : windows_(windows) {}

    // Loads the dialog if it is not open (running Form_Load), shows it and brings it to front.
    void Open();
    // The dialog's window while loaded, else null.
    ui::Window* Window() { return window_ && window_->IsOpen() ? window_.get() : nullptr; }

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click();

    void Click(std::string_view name) override;

  private:
    ui::WindowSystem& windows_;
    std::unique_ptr<ui::Window> window_;
};

} // namespace larkmoor

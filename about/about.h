#pragma once

#include "platform/programs.h"
#include "platform/registry.h"
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

inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";

class FrmAbout : public ui::FormEvents {
  public:
    FrmAbout(ui::WindowSystem& windows, Registry& registry, Programs& programs)
        : windows_(windows), registry_(registry), programs_(programs) {}

    // Loads the dialog if it is not open (running Form_Load), shows it and brings it to front.
    void Open();
    // The dialog's window while loaded, else null.
    ui::Window* Window() { return window_ && window_->IsOpen() ? window_.get() : nullptr; }

    void Form_Load();
    void cmdOK_Click();
    void cmdSysInfo_Click() { StartSysInfo(); }

    // Finds the system information tool through the registry and starts it, or tells the user
    // that it is unavailable.
    void StartSysInfo();
    // Reads the value `SubKeyRef` (the value's name, not a key) of the key `KeyName` below
    // `KeyRoot` as text into `KeyVal`.
    // False when the key or value is missing, too large, or of a type that is not text or number.
    bool GetKeyValue(RegistryKey KeyRoot, const std::string& KeyName, const std::string& SubKeyRef,
                     std::string& KeyVal);

    void Click(std::string_view name) override;

  private:
    ui::WindowSystem& windows_;
    Registry& registry_;
    Programs& programs_;
    std::unique_ptr<ui::Window> window_;
};

} // namespace larkmoor

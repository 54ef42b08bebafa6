#include "program.h"

#include "about/about.h"
#include "mainwindow/mainwindow.h"

#include <optional>

namespace larkmoor {

int RunProgram(ui::WindowSystem& windows, Readiness& readiness) {
    auto port = MakeSystemPort();
    auto clock = MakeSystemClock();
    auto registry = MakeSystemRegistry();
    auto programs = MakeSystemPrograms();
    std::optional<FrmAbout> frmAbout; // made on first use, kept to the end
    MnuMenu mnuMenu(windows, *port, *clock, readiness, [&] {
        if (!frmAbout)
            frmAbout.emplace(windows, *registry, *programs);
        frmAbout->Open();
    });
    mnuMenu.Show();
    return windows.Run();
}

} // namespace larkmoor

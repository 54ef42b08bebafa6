// Starts Larkmoor on Linux: the Qt window system, the machine's port and clock, the windows.
#include "about/about.h"
#include "mainwindow/mainwindow.h"
#include "platform/qt/window_qt.h"

#include <optional>

int main(int argc, char** argv) {
    larkmoor::QtWindowSystem windows(argc, argv);
    auto port = larkmoor::MakeSystemPort();
    auto clock = larkmoor::MakeSystemClock();
    std::optional<larkmoor::FrmAbout> frmAbout; // made on first use, kept to the end
    larkmoor::MnuMenu mnuMenu(windows, *port, *clock, [&] {
        if (!frmAbout)
            frmAbout.emplace(windows);
        frmAbout->Open();
    });
    mnuMenu.Show();
    return windows.Run();
}

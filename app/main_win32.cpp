// Starts Larkmoor on Windows: the Win32 window system, the port library, the clock, the windows.
#include "about/about.h"
#include "mainwindow/mainwindow.h"
#include "platform/win32/window_win32.h"

#include <optional>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    larkmoor::Win32WindowSystem windows(instance);
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

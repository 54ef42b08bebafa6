// Starts Larkmoor on Windows, with the Win32 window system.
#include "platform/win32/one_instance_win32.h"
#include "platform/win32/window_win32.h"
#include "program.h"
#include "version.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (!larkmoor::FirstOnThisPc(larkmoor::kTitle))
        return 0;
    larkmoor::Win32WindowSystem windows(instance);
    return larkmoor::RunProgram(windows);
}

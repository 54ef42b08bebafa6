// Starts Larkmoor on Windows, with the Win32 window system.
#include "platform/win32/window_win32.h"
#include "program.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    larkmoor::Win32WindowSystem windows(instance);
    return larkmoor::RunProgram(windows);
}

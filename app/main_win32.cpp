// Starts Larkmoor on Windows, with the Win32 window system; or, started by Larkmoor with its
// switch, the port host that loads the port library in a process of its own.
#include "platform/win32/clock_win32.h"
#include "platform/win32/one_instance_win32.h"
#include "platform/win32/port_host_win32.h"
#include "platform/win32/readiness_win32.h"
#include "platform/win32/window_win32.h"
#include "platform/win32/worker_win32.h"
#include "program.h"
#include "version.h"

namespace {

// Says where Larkmoor runs, in a box of its own, while this one waits to take over.
void TellBeside(const std::string& text) {
    larkmoor::StartThread([text] {
        MessageBoxA(nullptr, text.c_str(), larkmoor::kTitle, MB_OK | MB_ICONINFORMATION);
    });
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (const auto host = larkmoor::ParseHostCommandLine(GetCommandLineA()))
        return larkmoor::RunPortHost(*host);
    // Asked to make way for a start that may set the clock, this one ends at once; its port host
    // goes with it (its job).
    const bool right = larkmoor::SystemReadinessCalls().holdsTimePrivilege().value_or(false);
    if (!larkmoor::HoldThePc(larkmoor::kTitle, TellBeside, right,
                             [] { TerminateProcess(GetCurrentProcess(), 0); }))
        return 0;
    larkmoor::KeepClockReadingsTogether();
    larkmoor::Win32WindowSystem windows(instance);
    return larkmoor::RunProgram(windows, *larkmoor::MakeSystemReadiness());
}

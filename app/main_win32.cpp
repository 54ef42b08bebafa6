// Starts Larkmoor on Windows, with the Win32 window system.
#include "platform/win32/one_instance_win32.h"
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
    const bool right = larkmoor::SystemReadinessCalls().holdsTimePrivilege().value_or(false);
    if (!larkmoor::HoldThePc(larkmoor::kTitle, TellBeside, right,
                             [] { TerminateProcess(GetCurrentProcess(), 0); }))
        return 0;
    int code = 0;
    {
        larkmoor::Win32WindowSystem windows(instance);
        code = larkmoor::RunProgram(windows);
    }
    // The windows are gone. ExitProcess would first wait for the loader lock, which a port library
    // still in its start-up (DllMain) holds for as long as it likes; nothing is left to save, so
    // the process ends here, whatever its other threads are doing.
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(code));
    return code;
}

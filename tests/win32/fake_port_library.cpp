// A stand-in port library, built in several kinds (CMakeLists.txt): the routine's name and calling
// convention, and what its driver check says, if it has one. A read gives the address's bits 0x77
// with junk in the high byte, so 0x379 reads as a closed contact and a test sees the address.
// Each load adds one to PORT_LIBRARY_LOADS in the environment of the process that loads it; the
// kind STUCK never ends its start-up, as one waiting for a driver that never answers; CRASH
// raises an access violation in its read, and SILENT never returns from its second read.
#include <windows.h>

#include <cstdlib>
#include <string>

extern "C" __declspec(dllexport) short CONVENTION ROUTINE(short port) {
#ifdef CRASH
    static int* volatile nowhere = nullptr;
    *nowhere = 0;
#endif
#ifdef SILENT
    static int reads = 0;
    if (reads++ > 0)
        Sleep(INFINITE);
#endif
    return static_cast<short>(0x5300 | (port & 0x77));
}
#ifdef DRIVER_OPEN
extern "C" __declspec(dllexport) int __stdcall IsInpOutDriverOpen() {
    return DRIVER_OPEN;
}
#endif

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    char loads[16] = "0";
    if (reason == DLL_PROCESS_ATTACH && GetEnvironmentVariableA("PORT_LIBRARY_LOADS", loads, 16))
        SetEnvironmentVariableA("PORT_LIBRARY_LOADS", std::to_string(std::atoi(loads) + 1).c_str());
#ifdef STUCK
    Sleep(INFINITE);
#endif
    return TRUE;
}

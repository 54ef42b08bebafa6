// The closure-to-set delay of the Win32 build.
#include "delay.h"
#include "platform/win32/window_win32.h"

#include <cstdlib>

int main(int argc, char** argv) {
    const int closures = argc > 1 ? std::atoi(argv[1]) : 200;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    larkmoor::Win32WindowSystem windows(GetModuleHandleA(nullptr));
    return RunDelayBench(windows, closures, idleSeconds);
}

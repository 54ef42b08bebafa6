// Starts Larkmoor on Linux, with the Qt window system.
#include "platform/qt/window_qt.h"
#include "program.h"

#include <cstdlib>

int main(int argc, char** argv) {
    // The time label follows the system's zone, as the clock helper does, whatever TZ says.
    unsetenv("TZ");
    larkmoor::QtWindowSystem windows(argc, argv);
    return larkmoor::RunProgram(windows);
}

// Starts Larkmoor on Linux, with the Qt window system.
#include "platform/qt/window_qt.h"
#include "program.h"

int main(int argc, char** argv) {
    larkmoor::QtWindowSystem windows(argc, argv);
    return larkmoor::RunProgram(windows);
}

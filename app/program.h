#pragma once

#include "platform/ui.h"

namespace larkmoor {

// Wires the machine's port, clock, registry and programs to the windows, shows the main window
// and runs the event loop on `windows` until the program ends.
int RunProgram(ui::WindowSystem& windows);

} // namespace larkmoor

#pragma once

#include "platform/readiness.h"
#include "platform/ui.h"

namespace larkmoor {

// Wires the machine's port, clock, registry and programs and the readiness checks the entry point
// made to the windows, shows the main window and runs the event loop on `windows` until the
// program ends.
int RunProgram(ui::WindowSystem& windows, Readiness& readiness);

} // namespace larkmoor

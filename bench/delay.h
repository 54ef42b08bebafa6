#pragma once

#include "platform/ui.h"

// Runs the real main window on `windows` with a contact that a second thread closes at random
// moments, and prints the delays from each closure to the clock-set call, then the CPU used
// while the contact stays open for `idleSeconds`, and the peak memory.
int RunDelayBench(larkmoor::ui::WindowSystem& windows, int closures, int idleSeconds);

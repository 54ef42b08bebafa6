#pragma once

#include "platform/clock.h"
#include "platform/ui.h"

// Runs the real main window on `windows` with a contact that a second thread closes at random
// moments, and prints the delays from each closure to the end of the clock set, then the CPU
// used while the contact stays open for `idleSeconds`, and the peak memory. Sets go to `setter`
// (which must never change this machine's clock), or are only recorded when it is null.
int RunDelayBench(larkmoor::ui::WindowSystem& windows, int closures, int idleSeconds,
                  larkmoor::Clock* setter = nullptr);

#pragma once

#include "platform/ui.h"

#include <functional>

// Runs the real main window on `windows` with a contact that a second thread closes at random
// moments, and prints the delays from each closure to the clock-set call, then the CPU used
// while the contact stays open for `idleSeconds`, and the peak memory.
int RunDelayBench(larkmoor::ui::WindowSystem& windows, int closures, int idleSeconds);

// Starts `body` on a thread of its own and gives back the call that waits for it to end. Each
// window system's bench provides it (MinGW's win32 thread model has no std::thread).
std::function<void()> StartThread(std::function<void()> body);

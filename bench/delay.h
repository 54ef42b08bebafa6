#pragma once

#include "platform/clock.h"
#include "platform/ui.h"

#include <functional>

// Runs the real main window on `windows` with a contact that a second thread closes at random
// moments, and prints the delays from each closure to the end of the clock set, then the CPU
// used while the contact stays open for `idleSeconds`, and the peak memory. Sets go to `setter`
// (which must never change this machine's clock), or are only recorded when it is null.
int RunDelayBench(larkmoor::ui::WindowSystem& windows, int closures, int idleSeconds,
                  larkmoor::Clock* setter = nullptr);

// Starts `body` on a thread of its own and gives back the call that waits for it to end. Each
// window system's bench provides it (MinGW's win32 thread model has no std::thread).
std::function<void()> StartThread(std::function<void()> body);

// The closure-to-set delay of the Qt build. Each set starts a helper, as the program does, but a
// harmless stand-in that exits at once: never the real clock helper, which would set the clock.
#include "delay.h"
#include "platform/linux/clock_linux.h"
#include "platform/qt/window_qt.h"

#include <cstdlib>
#include <memory>
#include <thread>

std::function<void()> StartThread(std::function<void()> body) {
    auto thread = std::make_shared<std::thread>(std::move(body));
    return [thread] { thread->join(); };
}

int main(int argc, char** argv) {
    const int closures = argc > 1 ? std::atoi(argv[1]) : 200;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    int qtArgc = 1;
    larkmoor::QtWindowSystem windows(qtArgc, argv);
    const auto standIn = larkmoor::MakeHelperClock("/bin/true");
    return RunDelayBench(windows, closures, idleSeconds, standIn.get());
}

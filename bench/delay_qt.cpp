// The closure-to-set delay of the Qt build.
#include "delay.h"
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
    return RunDelayBench(windows, closures, idleSeconds);
}

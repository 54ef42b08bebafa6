// The CPU a bare loop that wakes every 50 ms uses on this machine: the floor under any program
// that polls at that rate.
#include "usage.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const double before = CpuSeconds();
    for (int i = 0; i < seconds * 20; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::printf("idle_cpu_percent %.3f\n", 100.0 * (CpuSeconds() - before) / seconds);
}

// The cost of one watcher pass with the real Linux port reader and clock.
#include "fakes.h"
#include "platform/linux/port_linux.h"
#include "watcher/watcher.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

void WatcherPass(benchmark::State& state) {
    // A file standing in for /dev/port, reading an open contact at 0x379.
    char path[] = "/tmp/larkmoor-port-XXXXXX";
    const int fd = mkstemp(path);
    std::string bytes(0x380, '\0');
    bytes[0x379] = 0x7F;
    std::ofstream(path, std::ios::binary) << bytes;

    larkmoor::DevPortReader port(path);
    auto clock = larkmoor::MakeSystemClock();
    larkmoor::fakes::FakeControl lblTime, lblPort;
    larkmoor::ClosureWatcher watcher(port, *clock, lblTime, lblPort);
    for (auto _ : state)
        watcher.Timer1_Timer();
    close(fd);
    std::remove(path);
}
BENCHMARK(WatcherPass);

} // namespace

BENCHMARK_MAIN();

// The cost of one watcher pass with the real Linux port (its reading thread reading a stand-in
// ppdev device) and clock.
#include "fakes.h"
#include "platform/linux/port_linux.h"
#include "watcher/watcher.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// A ppdev device that reads an open contact; the device is a plain file.
struct OpenContact : larkmoor::PpdevIo {
    int OpenAndClaim(const std::string& device) override { return open(device.c_str(), O_RDONLY); }
    int ReadStatus(int, std::uint8_t& status) override { return status = 0x7F, 0; }
    void Close(int fd) override { close(fd); }
};

void WatcherPass(benchmark::State& state) {
    const fs::path tree =
        fs::temp_directory_path() / ("larkmoor-bench-" + std::to_string(getpid()));
    fs::create_directories(tree / "proc/sys/dev/parport/parport0");
    fs::create_directories(tree / "dev");
    std::ofstream(tree / "proc/sys/dev/parport/parport0/base-addr") << "888\t1656\n";
    std::ofstream(tree / "dev/parport0") << "";
    {
        auto port = larkmoor::MakeFirstParallelPort(
            {tree / "proc", tree / "dev", std::make_shared<OpenContact>()});
        auto clock = larkmoor::MakeSystemClock();
        larkmoor::fakes::FakeControl lblTime, lblPort;
        larkmoor::fakes::FakeReadiness readiness;
        larkmoor::ClosureWatcher watcher(*port, *clock, readiness, lblTime, lblPort);
        for (auto _ : state)
            watcher.Timer1_Timer();
    }
    fs::remove_all(tree);
}
BENCHMARK(WatcherPass);

} // namespace

BENCHMARK_MAIN();

#include "platform/linux/programs_linux.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <signal.h>
#include <thread>

namespace larkmoor {
namespace {

namespace fs = std::filesystem;

template <typename Predicate> bool WaitFor(Predicate done) {
    for (int i = 0; i < 400; ++i) {
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST(LinuxPrograms, StartsTheFileItselfAndLeavesNoZombie) {
    const fs::path folder =
        fs::temp_directory_path() / ("larkmoor tools " + std::to_string(getpid()));
    fs::create_directories(folder);
    const fs::path program = folder / "marker program";
    fs::copy_file(MARKER_PROGRAM, program, fs::copy_options::overwrite_existing);

    auto programs = MakeSystemPrograms();
    EXPECT_TRUE(programs->NormalFileExists(program.string()));
    EXPECT_FALSE(programs->NormalFileExists(folder.string()));
    EXPECT_FALSE(programs->NormalFileExists((folder / "missing").string()));

    const auto pid = SpawnDetached(program.string());
    ASSERT_TRUE(pid);
    EXPECT_TRUE(WaitFor([&] { return fs::exists(program.string() + ".ran"); }));
    // Once reaped, the process id no longer answers; a zombie still would.
    EXPECT_TRUE(WaitFor([&] { return kill(*pid, 0) == -1 && errno == ESRCH; }));

    EXPECT_FALSE(programs->Start(""));
    EXPECT_FALSE(programs->Start((folder / "missing").string()));
    EXPECT_FALSE(programs->Start(folder.string()));
    fs::remove_all(folder);
}

TEST(LinuxToolTable, AnswersOnlyThePathOfTheSystemInformationTool) {
    auto registry = MakeSystemRegistry();
    RegistryKey key = 0;
    EXPECT_NE(registry->OpenKey(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools Location",
                                kKeyRead, key),
              kErrorSuccess);
    ASSERT_EQ(registry->OpenKey(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO",
                                kKeyRead, key),
              kErrorSuccess);
    unsigned char data[1024] = {};
    std::uint32_t type = 0, size = sizeof data;
    EXPECT_NE(registry->QueryValue(key, "OTHER", type, data, size), kErrorSuccess);
    if (registry->QueryValue(key, "PATH", type, data, size) == kErrorSuccess) {
        EXPECT_EQ(type, kRegSz);
        EXPECT_TRUE(MakeSystemPrograms()->NormalFileExists(reinterpret_cast<char*>(data)));
    }
    registry->CloseKey(key);
}

} // namespace
} // namespace larkmoor

#include "linux/support.h"
#include "platform/linux/programs_linux.h"
#include "platform/registry.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <signal.h>

namespace larkmoor {
namespace {

TEST(LinuxPrograms, StartsTheFileItselfAndLeavesNoZombie) {
    TempDir dir;
    // A program that leaves a file named after itself with ".ran" appended.
    const std::string program = dir.Put("my tools/a program", "#!/bin/sh\n>\"$0.ran\"\n", true);
    const std::string folder = (dir.path / "my tools").string();
    auto programs = MakeSystemPrograms();
    EXPECT_TRUE(programs->NormalFileExists(program));
    EXPECT_FALSE(programs->NormalFileExists(folder));
    EXPECT_FALSE(programs->NormalFileExists(folder + "/missing"));

    const auto pid = SpawnDetached(program);
    ASSERT_TRUE(pid);
    EXPECT_TRUE(WaitFor([&] { return std::filesystem::exists(program + ".ran"); }));
    // Once reaped, the process id no longer answers; a zombie still would.
    EXPECT_TRUE(WaitFor([&] { return kill(*pid, 0) == -1 && errno == ESRCH; }));
    for (const std::string& path : {std::string(), folder + "/missing", folder})
        EXPECT_FALSE(programs->Start(path)) << path;
}

TEST(LinuxToolTable, AnswersOnlyThePathOfTheSystemInformationTool) {
    auto registry = MakeSystemRegistry();
    RegistryKey key = 0;
    const std::string tools = "SOFTWARE\\Microsoft\\Shared Tools";
    EXPECT_NE(registry->OpenKey(kHkeyLocalMachine, tools + " Location", kKeyRead, key), 0);
    ASSERT_EQ(registry->OpenKey(kHkeyLocalMachine, tools + "\\MSINFO", kKeyRead, key), 0);
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

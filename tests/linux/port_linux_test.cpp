#include "platform/linux/port_linux.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace larkmoor {
namespace {

namespace fs = std::filesystem;

struct TempDir {
    fs::path path = fs::temp_directory_path() / ("larkmoor-test-" + std::to_string(getpid()));
    TempDir() { fs::create_directories(path); }
    ~TempDir() { fs::remove_all(path); }
};

void WritePortFile(const fs::path& file, std::uint8_t status) {
    std::string bytes(0x380, '\0');
    bytes[0x379] = static_cast<char>(status);
    std::ofstream(file, std::ios::binary) << bytes;
}

TEST(DevPortReader, ReadsTheByteAtThePortOffsetAndFollowsTheFileComingAndGoing) {
    TempDir dir;
    const fs::path file = dir.path / "port";
    DevPortReader reader(file.string());
    EXPECT_FALSE(reader.Inp(0x379).status); // no device yet

    WritePortFile(file, 0x77);
    EXPECT_EQ(reader.Inp(0x379).status, 0x77);
    EXPECT_EQ(reader.Inp(0x378).status, 0x00);
    EXPECT_FALSE(reader.Inp(0x400).status); // beyond the end: a failed read

    WritePortFile(file, 0x7F);
    EXPECT_EQ(reader.Inp(0x379).status, 0x7F);

    fs::remove(file);
    WritePortFile(dir.path / "elsewhere", 0);
    fs::permissions(dir.path / "elsewhere", fs::perms::none);
    DevPortReader unreadable((dir.path / "elsewhere").string());
    if (geteuid() != 0) { // root reads whatever the permissions say
        EXPECT_FALSE(unreadable.Inp(0x379).status);
    }
}

TEST(FindParportDevice, PicksTheDeviceWhoseBaseAddressIs888) {
    TempDir dir;
    const auto add = [&](const char* name, const char* baseAddr) {
        fs::create_directories(dir.path / name);
        std::ofstream(dir.path / name / "base-addr") << baseAddr;
    };
    EXPECT_FALSE(FindParportDevice(dir.path.string(), "/dev", 888));
    add("parport0", "632\t1656\n");
    EXPECT_FALSE(FindParportDevice(dir.path.string(), "/dev", 888));
    add("parport1", "888\t1912\n");
    EXPECT_EQ(FindParportDevice(dir.path.string(), "/dev", 888), "/dev/parport1");
    EXPECT_FALSE(FindParportDevice((dir.path / "missing").string(), "/dev", 888));
}

TEST(PpdevReader, ADeviceThatCannotBeOpenedFailsWithoutBlocking) {
    PpdevReader reader("/nonexistent/parport0");
    for (int i = 0; i < 200 && !reader.Failed(); ++i)
        usleep(5000);
    EXPECT_TRUE(reader.Failed());
    EXPECT_FALSE(reader.Inp(0x379).status);
}

} // namespace
} // namespace larkmoor

#include "fakes.h"
#include "linux/temp_dir.h"
#include "platform/linux/port_linux.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

namespace larkmoor {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

// A ppdev device that answers `status`, or refuses as told; it notes what is claimed.
struct FakePpdev : PpdevIo {
    std::vector<std::string> claimed;
    int claimError = 0, readError = 0, closes = 0;
    std::uint8_t status = 0x7F;
    int OpenAndClaim(const std::string& device) override {
        claimed.push_back(device);
        return claimError ? -claimError : 7;
    }
    int ReadStatus(int, std::uint8_t& s) override {
        return readError ? readError : (s = status, 0);
    }
    void Close(int) override { ++closes; }
};

// A fake /proc and /dev, a fake ppdev and a clock that moves only when told.
struct PortTree {
    TempDir dir;
    std::shared_ptr<FakePpdev> ppdev = std::make_shared<FakePpdev>();
    Steady::time_point now{};
    std::unique_ptr<Port> port =
        MakeFirstParallelPort({dir.path / "proc", dir.path / "dev", ppdev, [this] { return now; }});
    void AddPort(const std::string& name, const char* base) {
        dir.Put("proc/sys/dev/parport/" + name + "/base-addr", std::string(base) + "\t1656\n");
    }
    // The next reading once a claim that is under way has ended.
    PortReading Read() {
        PortReading r = port->Inp(kStatusPort);
        for (int i = 0; i < 400 && r.note.starts_with("Waiting"); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            r = port->Inp(kStatusPort);
        }
        return r;
    }
};

TEST(FirstParallelPort, TheOneAt0x378ElseTheLowestListedElseDevPortOnlyWhereIoportsShowsIt) {
    const std::string parallelRegion = "0000-001f : dma1\n  0378-037a : parport0\n";
    struct Case {
        std::vector<std::pair<const char*, const char*>> ports;
        std::string ioports, device, note;
    } cases[] = {
        {{{"parport0", "632"}, {"parport1", "888"}}, "", "dev/parport1", "parport1 at 0x378"},
        {{{"parport10", "53264"}, {"parport2", "53280"}}, "", "dev/parport2", "parport2 at 0xd020"},
        {{}, parallelRegion, "dev/port", "port 0x379 through"},
        {{}, "0378-037a : ne2000\n", "", "lists no parallel port"},
        {{}, "", "", "lists no parallel port"},
    };
    for (const Case& c : cases) {
        PortTree tree;
        for (const auto& [name, base] : c.ports)
            tree.AddPort(name, base);
        tree.dir.Put("proc/ioports", c.ioports);
        std::string bytes(0x380, '\0');
        tree.dir.Put("dev/port", bytes.replace(0x379, 1, 1, '\x77'));
        tree.ppdev->status = 0x77;
        const PortReading r = tree.Read();
        EXPECT_EQ(r.status, c.device.empty() ? std::nullopt : std::optional<std::uint8_t>(0x77));
        EXPECT_NE(r.note.find(c.note), std::string::npos) << r.note;
        std::vector<std::string> claims;
        if (c.device.starts_with("dev/parport"))
            claims.push_back((tree.dir.path / c.device).string());
        EXPECT_EQ(tree.ppdev->claimed, claims);
    }
}

TEST(FirstParallelPort, ClaimedLateGoneAtOnceAndFoundAgainWhileTheWatcherSetsNothing) {
    PortTree tree;
    fakes::FakeClock clock;
    fakes::FakeControl lblTime, lblPort;
    ClosureWatcher watcher(*tree.port, clock, lblTime, lblPort);
    const auto pass = [&](Steady::duration later = {}) {
        tree.now += later;
        tree.Read();
        watcher.Timer1_Timer();
        return lblPort.text + ": " + lblPort.toolTip;
    };
    tree.AddPort("parport0", "888");
    tree.ppdev->claimError = EACCES;
    EXPECT_EQ(pass().substr(0, 8), "No Port:");
    EXPECT_NE(lblPort.toolTip.find("Add this user to the group lp"), std::string::npos);
    pass(std::chrono::seconds(4));
    EXPECT_EQ(tree.ppdev->claimed.size(), 1u); // not before 5 s
    tree.ppdev->claimError = 0;
    pass(std::chrono::seconds(1));
    EXPECT_EQ(tree.ppdev->claimed.size(), 2u);
    EXPECT_FALSE(lblPort.visible); // open contact, read through the claimed port

    // Unplugged: the device still answers, with a status that would read as closed.
    fs::remove_all(tree.dir.path / "proc/sys/dev/parport/parport0");
    tree.ppdev->status = 0;
    EXPECT_NE(pass().find("No Port: The kernel no longer lists parport0"), std::string::npos);
    EXPECT_EQ(tree.ppdev->closes, 1);
    tree.AddPort("parport0", "888");
    pass(std::chrono::seconds(4));
    tree.ppdev->readError = ENODEV;
    EXPECT_NE(pass(std::chrono::seconds(1)).find("cannot be read: No such device"),
              std::string::npos);
    EXPECT_EQ(tree.ppdev->claimed.size(), 3u);
    EXPECT_TRUE(clock.sets.empty());
    EXPECT_FALSE(watcher.blnTimeSet);
}

TEST(DevPortReader, ReadsTheByteAtThePortOffsetAndFollowsTheFileComingAndGoing) {
    TempDir dir;
    const fs::path file = dir.path / "port";
    DevPortReader reader(file.string());
    EXPECT_FALSE(reader.Inp(0x379).status); // no device yet
    std::string bytes(0x380, '\0');
    dir.Put("port", bytes.replace(0x379, 1, 1, '\x77'));
    EXPECT_EQ(reader.Inp(0x379).status, 0x77);
    EXPECT_EQ(reader.Inp(0x378).status, 0x00);
    EXPECT_FALSE(reader.Inp(0x400).status); // beyond the end: a failed read
    dir.Put("port", bytes.replace(0x379, 1, 1, '\x7F'));
    EXPECT_EQ(reader.Inp(0x379).status, 0x7F);
}

} // namespace
} // namespace larkmoor

#include "fakes.h"
#include "linux/support.h"
#include "platform/linux/port_linux.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace larkmoor {
namespace {

// A ppdev device that answers `status` or fails as told. It is shared with the claim thread,
// which may let go of it last.
struct FakePpdev : PpdevIo {
    std::vector<std::string> claimed;
    int claimError = 0, readError = 0, closes = 0;
    std::uint8_t status = 0x7F;
    int OpenAndClaim(const std::string& device) override {
        return claimed.push_back(device), claimError ? -claimError : 7;
    }
    int ReadStatus(int, std::uint8_t& s) override { return s = status, readError; }
    void Close(int) override { ++closes; }
};

// A fake /proc and /dev, a fake ppdev device, and a clock that moves only when told.
struct PortTree {
    TempDir dir;
    std::shared_ptr<FakePpdev> io = std::make_shared<FakePpdev>();
    std::chrono::steady_clock::time_point now{};
    std::unique_ptr<Port> port =
        MakeFirstParallelPort({dir.path / "proc", dir.path / "dev", io, [this] { return now; }});
    void AddPort(const std::string& name, const char* base) {
        dir.Put("proc/sys/dev/parport/" + name + "/base-addr", std::string(base) + "\t1656\n");
    }
    PortReading Read() { // once a claim under way has ended
        PortReading r;
        WaitFor([&] { return !(r = port->Inp(kStatusPort)).note.starts_with("Waiting"); });
        return r;
    }
};

TEST(FirstParallelPort, TheOneAt0x378ElseTheLowestListedElseDevPortOnlyWhereIoportsShowsIt) {
    // The ports listed, /proc/ioports, the device read ("": /dev/port; null: none), the note.
    using Case = std::tuple<std::vector<std::pair<const char*, const char*>>, const char*,
                            const char*, const char*>;
    for (const auto& [ports, ioports, device, note] : std::initializer_list<Case>{
             {{{"parport0", "632"}, {"parport1", "888"}}, "", "parport1", "parport1 at 0x378"},
             {{{"parport10", "632"}, {"parport2", "53264"}}, "", "parport2", "parport2 at 0xd010"},
             {{}, "0000-001f : dma1\n  0378-037a : parport0\n", "", "port 0x379 through"},
             {{}, "0378-037a : ne2000\n", nullptr, "lists no parallel port"},
             {{}, "", nullptr, "lists no parallel port"}}) {
        PortTree tree;
        for (const auto& [name, base] : ports)
            tree.AddPort(name, base);
        tree.dir.Put("proc/ioports", ioports);
        tree.dir.Put("dev/port", std::string(0x379, '\0') + "\x7F");
        const PortReading r = tree.Read();
        EXPECT_EQ(r.status, device ? std::optional<std::uint8_t>(0x7F) : std::nullopt);
        EXPECT_NE(r.note.find(note), std::string::npos) << r.note;
        EXPECT_EQ(tree.io->claimed.size(), device && *device ? 1u : 0u);
    }
}

TEST(FirstParallelPort, ClaimedLateGoneAtOnceAndFoundAgainWhileTheWatcherSetsNothing) {
    PortTree tree;
    fakes::FakeClock clock;
    fakes::FakeControl lblTime, lblPort;
    ClosureWatcher watcher(*tree.port, clock, lblTime, lblPort);
    const auto pass = [&](int seconds) {
        tree.now += std::chrono::seconds(seconds);
        tree.Read();
        watcher.Timer1_Timer();
        return lblPort.text + ": " + lblPort.toolTip;
    };
    tree.AddPort("parport0", "888");
    tree.io->claimError = EACCES;
    EXPECT_EQ(pass(0).find("No Port: " + (tree.dir.path / "dev/parport0").string()), 0u);
    EXPECT_NE(pass(4).find("Add this user to the group lp"), std::string::npos);
    EXPECT_EQ(tree.io->claimed.size(), 1u); // not again before 5 s
    tree.io->claimError = 0;
    pass(1);
    EXPECT_EQ(tree.io->claimed.size(), 2u);
    EXPECT_FALSE(lblPort.visible); // open contact, read through the claimed port

    // Unplugged: the device still answers, with a status that would read as closed.
    std::filesystem::remove_all(tree.dir.path / "proc/sys/dev/parport/parport0");
    tree.io->status = 0;
    EXPECT_NE(pass(0).find("No Port: The kernel no longer lists parport0"), std::string::npos);
    EXPECT_EQ(tree.io->closes, 1);
    tree.AddPort("parport0", "888");
    tree.io->readError = ENODEV;
    pass(4);
    EXPECT_NE(pass(1).find("cannot be read: No such device"), std::string::npos);
    EXPECT_EQ(tree.io->claimed.size(), 3u);
    EXPECT_TRUE(clock.sets.empty());
}

} // namespace
} // namespace larkmoor

// The port library and its host under Wine: test libraries of each kind found by full path in a
// folder with a space, the host's loop on a thread of this test, and the window's side with a real
// host, a copy of larkmoor.exe.
#include "helpers.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/port_host_win32.h"
#include "platform/win32/worker_win32.h"

namespace larkmoor {
namespace {

TEST(PortLibrary, TheFirstUsableOneIsReadOrTheNoteSaysWhyNone) {
    // The test helpers placed as inpout32.dll and as ntport.dll, the status read, and part of what
    // a reading says besides the folder.
    const std::tuple<const char*, const char*, std::optional<int>, const char*> cases[] = {
        {{}, {}, {}, "No port library: neither ntport.dll nor inpout32.dll is in "},
        {"closed.dll", {}, {}, "\\inpout32.dll is not open.\nSee \"The port library and its"},
        {"closed.dll", "text.dll", {}, "\\ntport.dll could not be loaded: "},
        {"ntport.dll", {}, {}, "\\inpout32.dll has no routine Inp32."},
        {"inpout32.dll", "ntport.dll", 0x71, "\\ntport.dll"},
        {"inpout32.dll", {}, 0x71, "\\inpout32.dll"},
        {"cdecl.dll", {}, 0x71, "\\inpout32.dll"}, // its argument left on the stack, put right
    };
    for (const auto& [inpout32, ntport, status, says] : cases) {
        SCOPED_TRACE(says);
        Folder folder;
        for (const auto& [helper, as] :
             {std::pair{inpout32, "inpout32.dll"}, {ntport, "ntport.dll"}})
            if (helper)
                folder.Place(helper, as);
        const auto port = MakeLibraryPort(
            {folder.path}, [] { return 0u; }, [] { return "policy"; });
        for (int i = 0; i < 1000; ++i) // a stack that a call leaves wrong fails by here
            ASSERT_EQ(port->Inp(kStatusPort).status, status);
        const std::string note = port->Inp(kStatusPort).note;
        EXPECT_PRED_FORMAT2(testing::IsSubstring, folder.path, note);
        EXPECT_PRED_FORMAT2(testing::IsSubstring, says, note);
        EXPECT_EQ(note.ends_with("\npolicy"), note.find("is not open") != std::string::npos);
        EXPECT_EQ(port->Inp(0).note.empty(), status.has_value()); // loaded, nothing read
    }
}

TEST(PortLibrary, OneLaterBesideTheProgramIsUsedWithin5SecondsOneInTheCurrentDirectoryNever) {
    Folder folder;
    folder.Place("inpout32.dll", "inpout32.dll");
    SetCurrentDirectoryA(folder.path.c_str());
    const std::vector<std::string> folders = PortLibraryFolders(OwnProgram());
    std::uint32_t now = 0xFFFFF000; // four seconds before the tick count wraps around
    auto port = MakeLibraryPort(folders, [&] { return now; });
    EXPECT_PRED_FORMAT2(testing::IsSubstring, " in " + folders[0] + " or " + folders[1] + ".",
                        port->Inp(kStatusPort).note);
    const std::string later = folder.Place("inpout32.dll", "inpout32.dll", folders[0]);
    for (std::uint32_t step : {1000, 3000, 999}) { // looked for every 5 s, across the wrap
        now += step;
        EXPECT_EQ(port->Inp(kStatusPort).note.substr(0, 16), "No port library:") << now;
    }
    now += 1;
    EXPECT_EQ(port->Inp(kStatusPort).status, 0x71);
    port.reset();
    std::filesystem::remove(later);
}

TEST(PortLibrary, ARefusedOneIsLoadedAgainOnlyOnceAMinuteAndTheDriverPoliciesAreNamed) {
    Folder folder;
    folder.Place("closed.dll", "inpout32.dll");
    std::uint32_t now = 0;
    const auto port = MakeLibraryPort({folder.path}, [&] { return now; });
    SetEnvironmentVariableA("PORT_LIBRARY_LOADS", "0");
    for (; now < 10 * 60000; now += 50) // ten minutes of ticks
        port->Inp(kStatusPort);
    char loads[16] = "";
    GetEnvironmentVariableA("PORT_LIBRARY_LOADS", loads, sizeof loads);
    EXPECT_STREQ(loads, "10");

    const char* integrity = "SYSTEM\\CurrentControlSet\\Control\\DeviceGuard\\Scenarios\\Hypervisor"
                            "EnforcedCodeIntegrity";
    const char* blocklist = "SYSTEM\\CurrentControlSet\\Control\\CI\\Config";
    const std::tuple<const char*, const char*, const char*> cases[] = {
        // DWORDs as stored
        {nullptr, nullptr, ""},
        {"\0\0\0\0", "\0\0\0\0", ""},
        {"\1\0\0\0", nullptr, "Memory integrity is on: Windows refuses"},
        {nullptr, "\1\0\0\0", "The vulnerable driver blocklist is enforced: Windows"},
        {"\1\0\0\0", "\1\0\0\0", "Memory integrity is on and the vulnerable driver"},
    };
    for (const auto& [enabled, enforced, start] : cases) {
        fakes::FakeRegistry registry;
        if (enabled)
            registry.Put(integrity, "Enabled", kRegDword, std::string(enabled, 4));
        if (enforced)
            registry.Put(blocklist, "VulnerableDriverBlocklistEnable", kRegDword,
                         std::string(enforced, 4));
        const std::string note = DriverPolicyNote(registry);
        EXPECT_TRUE(note.starts_with(start) && note.empty() == !*start)
            << "integrity " << !!enabled << ", blocklist " << !!enforced << ": " << note;
    }
}

// Each reading says which read it was, modulo 100 (all closed).
struct Counting : Port {
    std::atomic<int> reads = 0;
    PortReading Inp(std::uint16_t) override { return {std::uint8_t(++reads % 100), "read"}; }
};

TEST(PortHost, ReadsOnlyWhenAskedUntilFastThenEveryMillisecondMarkedWithTheClosuresFirstInstant) {
    // The host's loop on a thread of this test; its "parent" is an event the test sets to end it.
    Counting counting;
    PortPage page{};
    page.fast = 1;
    Event asked(false), parent(true), ended(true);
    StartThread([&] {
        ServePortPage(page, {nullptr, asked.Handle(), parent.Handle()}, counting);
        SetEvent(ended.Handle());
    });
    Sleep(100); // not before the first request: a library may take long
    EXPECT_EQ(counting.reads, 0);
    SetEvent(asked.Handle());
    EXPECT_TRUE(Within(3000, [&] { return counting.reads > 15; }));
    page.fast = 0; // then none, once the read under way is done
    int reads = 0;
    EXPECT_TRUE(Within(3000, [&] {
        reads = counting.reads;
        Sleep(100);
        return counting.reads == reads;
    }));
    SetEvent(asked.Handle()); // one, published between two steps of the sequence
    EXPECT_TRUE(Within(1000, [&] { return page.sequence == 2 * (reads + 1); })) << reads;
    EXPECT_EQ(page.status, (reads + 1) % 100);
    EXPECT_TRUE(page.closed && page.closedAtNs > 0 && page.closedAtNs < MonotonicNs());
    SetEvent(parent.Handle());
    EXPECT_EQ(WaitForSingleObject(ended.Handle(), 5000), WAIT_OBJECT_0);
}

// The window's side, with a real host started from a copy of larkmoor.exe beside `library`
// (placed as ntport.dll), on a tick count the test moves.
struct Hosted {
    Folder folder{"Larkmoor Host"};
    std::uint32_t now = 0;
    std::optional<StatusRegister> chosen = StatusRegister{kStatusPort, "none listed"};
    std::unique_ptr<Port> port;
    explicit Hosted(const char* library) {
        folder.Place(library, "ntport.dll");
        port = MakeHostedPort(
            folder.Place(LARKMOOR_EXE, "larkmoor.exe"), [this] { return chosen; },
            [this] { return now; }, [] { return false; }, nullptr);
    }
    // Ticks every 10 ms of real time, the tick count standing, until the reading's note holds
    // `part` and, if `read`, it has a status (a failure after 5 s); the last reading.
    PortReading Until(const std::string& part, bool read = false) {
        PortReading reading;
        EXPECT_TRUE(Within(5000, [&] {
            reading = port->Inp(kStatusPort);
            return reading.note.find(part) != std::string::npos && (!read || reading.status);
        })) << reading.note;
        return reading;
    }
};

TEST(HostedPort, ReadsThroughItsHostAtTheRegisterChosenAndANewOneCountsFromItsOwnReading) {
    Hosted hosted("ntport.dll");
    const PortReading reading = hosted.Until(
        "Reading 0x379 (none listed) through " + hosted.folder.path + "\\ntport.dll.", true);
    EXPECT_EQ(reading.status, 0x71);
    EXPECT_TRUE(reading.closedAtNs);
    Sleep(50); // a reading at 0x379 waits in the page
    hosted.chosen = StatusRegister{0xE001, "LPT1 at 0xE000"}; // never a reading taken at 0x379
    EXPECT_EQ(hosted.Until("LPT1 at 0xE000", true).status, 0x01);
    hosted.chosen = StatusRegister{std::nullopt, "Windows lists LPT1 but could not"};
    EXPECT_EQ(hosted.Until("Windows lists").status, std::nullopt);
    hosted.chosen.reset();
    EXPECT_EQ(hosted.Until("Looking for the parallel port").status, std::nullopt);
}

// A library that never ends its start-up, or one that crashes or stops in its read: "No Port"
// with the reason, the host ended, and started again a minute later or at once when the library
// files change.
TEST(HostedPort, AHostThatHangsCrashesOrStopsIsNoPortWithItsReasonAndStartedAgainLater) {
    // The library, why there is no port, and whether a good one then replaces it (used within 5 s
    // of the change, not a minute).
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"stuck.dll", "The port library has not answered for 1 s: it may be stuck", true},
        {"silent.dll", "The port library has not answered for 1 s: it may be stuck", false},
        {"crash.dll", "The port library crashed: exception 0xC0000005 in ", false},
    };
    for (const auto& [library, reason, putRight] : cases) {
        SCOPED_TRACE(library);
        Hosted hosted(library);
        hosted.port->Inp(kStatusPort);            // starts the host
        if (library == std::string("silent.dll")) // it answers once, then never
            hosted.Until("Reading", true);
        if (library != std::string("crash.dll"))
            hosted.now += 1000;
        const PortReading stopped = hosted.Until(reason);
        EXPECT_TRUE(
            stopped.note.ends_with("loads it again when its files change, or in a minute."));
        if (putRight) {
            std::filesystem::remove(hosted.folder.path + "\\ntport.dll");
            hosted.folder.Place("ntport.dll", "ntport.dll");
        }
        hosted.now += putRight ? 4999 : 59'999;
        EXPECT_EQ(hosted.port->Inp(kStatusPort).note, stopped.note);
        hosted.now += 1;
        EXPECT_EQ(hosted.port->Inp(kStatusPort).note, "Waiting for the port library to answer.");
        if (putRight)
            hosted.Until("Reading", true);
    }
}

} // namespace
} // namespace larkmoor

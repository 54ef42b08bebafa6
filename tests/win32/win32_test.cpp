// The Windows pieces under Wine, built at -O2 and run in Asia/Kolkata, half an hour off the hour
// (CMakeLists.txt): the clock's local reading and what it hands to SetSystemTime, test port
// libraries of each kind found by full path in a folder with a space, the port read and listed on
// threads of their own, Wine's real registry as the launcher opens it, the real "normal file"
// check and program start, and the program started twice.
#include "about/about.h"
#include "fakes.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/one_instance_win32.h"
#include "platform/win32/port_host_win32.h"
#include "platform/win32/readiness_win32.h"
#include "platform/win32/window_win32.h"
#include "platform/win32/worker_win32.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <wbemidl.h>

#include <process.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace larkmoor {
namespace {

TEST(Win32Clock, AReadingIsTheLocalTimeOfWindowsAndTheSetIsInUtc) {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    const auto clock = MakeSystemClock();
    ClockReading reading = clock->Now();
    EXPECT_EQ(reading.hour, local.wHour);
    EXPECT_NEAR(reading.minute * 60 + reading.second, local.wMinute * 60 + local.wSecond, 1);
    EXPECT_NEAR(reading.utcNs / 1'000'000'000, std::time(nullptr), 1);
    // Wine moves no clock: it refuses a move of more than half a second and calls a smaller one
    // done. Asked for the local time 5:30 h from now, SetSystemTime gets the UTC fields of that,
    // which are the local fields of now: refused, where SetLocalTime would take them for now.
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "a set might succeed";
    while ((reading = clock->Now()).nanosecond > 300'000'000)
        Sleep(20);
    const FILETIME ahead = UnixNsToFileTime(reading.utcNs + 19'800'000'000'000);
    const ClockReading basis = *LocalReading(ahead, SystemTimeCalls());
    const ClockSet set = clock->SetTimeOfDay(basis, TimeText(basis), std::nullopt);
    EXPECT_FALSE(set.IsSet());
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "(error 1314).\nSee \"Setting the clock without a prompt\" in the README.",
                        set.note);
}

// Both clocks read between two readings of the other, so that a busy machine cannot widen the gap.
TEST(Win32Clock, TheMonotonicClockKeepsPaceWithTheTickCountAndOnXpKeepsToOneProcessor) {
    for (int i = 0; i < 3; ++i) {
        const DWORD before0 = GetTickCount();
        const std::int64_t start = MonotonicNs();
        const DWORD after0 = GetTickCount();
        Sleep(300);
        const DWORD before1 = GetTickCount();
        const std::int64_t end = MonotonicNs();
        const DWORD after1 = GetTickCount();
        const std::int64_t ms = (end - start) / 1'000'000;
        EXPECT_TRUE(ms >= std::int64_t{before1 - after0} - 16 && ms <= after1 - before0 + 16) << ms;
    }
    const std::tuple<unsigned, DWORD_PTR, std::optional<DWORD_PTR>> cases[] = {
        {5, 0b1100, 0b0100}, {5, 0b11, 0b01}, {5, 0b10, {}}, {6, 0b11, {}}, {10, 0b1100, {}},
    };
    for (const auto& [major, mask, one] : cases)
        EXPECT_EQ(ClockAffinity(major, mask), one) << major << " " << mask;
    // A closure marked after the set (counters that differ between processors) sets nothing.
    TimeCalls calls = SystemTimeCalls();
    calls.monotonicNs = [] { return std::int64_t{5'000'000'000}; };
    const auto clock = MakeWin32Clock(calls);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "performance counter, which then cannot be trusted",
                        clock->SetTimeOfDay(clock->Now(), "10:54:30", 5'000'000'001).note);
}

TEST(Win32Clock, SetSystemTimeGetsTheUtcFieldsOfTheTimeAskedForAndNothingWithoutALocalTime) {
    TIME_ZONE_INFORMATION berlin{}, kolkata{};
    berlin.Bias = -60;
    berlin.StandardDate = {0, 10, 0, 5, 3, 0, 0, 0}; // last Sunday of October, 03:00
    berlin.DaylightDate = {0, 3, 0, 5, 2, 0, 0, 0};  // last Sunday of March, 02:00
    berlin.DaylightBias = -60;
    kolkata.Bias = -330;
    const struct {
        TIME_ZONE_INFORMATION* zone; // none: the conversion fails
        SYSTEMTIME now;              // UTC
        const char* asked;           // local
        int sinceUs;                 // from the closure to the set, on the monotonic clock
        const char* set;             // UTC
    } cases[] = {
        {&berlin, {2026, 7, 3, 15, 10, 7, 12, 250}, "12:54:30", 31600, "2026-07-15 10:54:30.032"},
        {&berlin, {2026, 1, 4, 15, 10, 7, 12, 0}, "11:54:30", 0, "2026-01-15 10:54:30.000"},
        {&kolkata, {2026, 7, 3, 15, 20, 0, 5, 0}, "01:54:30", 999999, "2026-07-15 20:24:31.000"},
        {nullptr, {2026, 7, 3, 15, 20, 0, 5, 0}, "20:54:30", 0, ""},
    };
    for (const auto& c : cases) {
        std::string sets;
        const auto clock = MakeWin32Clock(
            {[&](const SYSTEMTIME& utc, SYSTEMTIME& local) {
                 SetLastError(ERROR_INVALID_PARAMETER);
                 return c.zone && SystemTimeToTzSpecificLocalTime(c.zone, &utc, &local);
             },
             [&](const SYSTEMTIME& t) {
                 char text[32];
                 std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.wYear,
                               t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
                 return sets += text, true;
             },
             [&] { return 5'000'000'000 + c.sinceUs * std::int64_t{1000}; }});
        FILETIME now{};
        SystemTimeToFileTime(&c.now, &now);
        const ClockSet set = clock->SetTimeOfDay({FileTimeToUnixNs(now)}, c.asked, 5'000'000'000);
        EXPECT_EQ(sets, c.set);
        EXPECT_EQ(set.IsSet(), !sets.empty()) << c.asked;
        EXPECT_EQ(set.timeText.substr(std::min<std::size_t>(set.timeText.size(), 8)),
                  set.IsSet() ? std::string(c.set).substr(19) : "");
        EXPECT_EQ(set.note, sets.empty() ? "Windows could not give the local time, so the clock "
                                           "was not set: " +
                                               SystemMessage(ERROR_INVALID_PARAMETER)
                                         : "");
    }
}

// A fresh folder with a space in its name, gone with what it holds when the test ends.
struct Folder {
    explicit Folder(const char* name = "Larkmoor Test")
        : path((std::filesystem::temp_directory_path() / name).string()) {
        std::filesystem::remove_all(path);
        std::filesystem::create_directory(path);
    }
    ~Folder() {
        SetCurrentDirectoryA(TEST_HELPERS); // a current directory cannot be removed
        std::filesystem::remove_all(path);
    }
    // Copies `helper` of the test helpers (CMakeLists.txt) into `into` as `as`.
    std::string Place(const char* helper, const char* as, const std::string& into = "") {
        const auto copy = std::filesystem::path(into.empty() ? path : into) / as;
        EXPECT_TRUE(std::filesystem::copy_file(std::filesystem::path(TEST_HELPERS) / helper, copy));
        return copy.string();
    }
    const std::string path;
};

using Ports = std::optional<std::vector<ParallelPort>>;
const Ports kNone = std::vector<ParallelPort>{}; // Windows lists no parallel port

TEST(PortFinder, TheStatusRegisterOfThePortAt0x378ElseOfTheLowestNumberedOneWithItsRange) {
    const struct {
        Ports ports;
        std::optional<int> address;
        const char* which;
    } cases[] = {
        {{}, {}, "Windows could not list the parallel ports: looking again."},
        {kNone, 0x379, "Windows lists no parallel port"},
        {Ports{{{"LPT2", 0x378}, {"LPT1", {}}}}, 0x379, "LPT2 at 0x378"},
        {Ports{{{"LPT2", 0xE000}, {"LPT1", {}}}}, {}, "Windows lists LPT1 but could not give"},
        {Ports{{{"LPT1", 0xD010}, {"LPT2", 0x378}}}, 0x379, "LPT2 at 0x378"},
        {Ports{{{"LPT2", 0x100}, {"LPT1", 0xE000}}}, 0xE001, "LPT1 at 0xE000"},
        {Ports{{{"LPT10", 0x3BC}, {"LPT2", 0x100}, {"LPT3", 0x278}}}, 0x101, "LPT2 at 0x100"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.which);
        const StatusRegister chosen = ChooseStatusRegister(c.ports);
        EXPECT_EQ(chosen.address, c.address);
        EXPECT_TRUE(chosen.which.starts_with(c.which)) << chosen.which;
    }
}

TEST(PortLibrary, TheFirstUsableOneIsReadOrTheNoteSaysWhyNone) {
    const char* open = "inpout32.dll";
    const struct {
        const char* inpout32; // the test helper placed as inpout32.dll, and as ntport.dll
        const char* ntport;
        std::optional<int> status;
        const char* note; // part of what a reading says, besides the folder
    } cases[] = {
        {{}, {}, {}, "No port library: neither ntport.dll nor inpout32.dll is in "},
        {"closed.dll", {}, {}, "\\inpout32.dll is not open.\nSee \"The port library and its"},
        {"closed.dll", "text.dll", {}, "\\ntport.dll could not be loaded: "},
        {"ntport.dll", {}, {}, "\\inpout32.dll has no routine Inp32."},
        {open, "ntport.dll", 0x71, "\\ntport.dll"},
        {open, {}, 0x71, "\\inpout32.dll"},
        {"cdecl.dll", {}, 0x71, "\\inpout32.dll"}, // its argument left on the stack, put right
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.note);
        Folder folder;
        for (const auto& [helper, as] :
             {std::pair{c.inpout32, "inpout32.dll"}, {c.ntport, "ntport.dll"}})
            if (helper)
                folder.Place(helper, as);
        const auto port = MakeLibraryPort(
            {folder.path}, [] { return 0u; }, [] { return "policy"; });
        for (int i = 0; i < 1000; ++i) // a stack that a call leaves wrong fails by here
            ASSERT_EQ(port->Inp(kStatusPort).status, c.status);
        const std::string note = port->Inp(kStatusPort).note;
        EXPECT_PRED_FORMAT2(testing::IsSubstring, folder.path, note);
        EXPECT_PRED_FORMAT2(testing::IsSubstring, c.note, note);
        EXPECT_EQ(note.ends_with("\npolicy"), note.find("is not open") != std::string::npos);
        EXPECT_EQ(port->Inp(0).note.empty(), c.status.has_value()); // loaded, nothing read
    }
    // The first folder (the program's own) before the second (the system's).
    Folder own, system("Larkmoor System");
    own.Place("inpout32.dll", "inpout32.dll");
    system.Place("cdecl.dll", "inpout32.dll");
    const auto port = MakeLibraryPort({own.path, system.path}, [] { return 0u; });
    EXPECT_EQ(port->Inp(kStatusPort).note, own.path + "\\inpout32.dll");
}

TEST(PortLibrary, OneLaterBesideTheProgramIsUsedWithin5SecondsOneInTheCurrentDirectoryNever) {
    Folder folder;
    folder.Place("inpout32.dll", "inpout32.dll");
    SetCurrentDirectoryA(folder.path.c_str());
    const std::vector<std::string> folders = PortLibraryFolders(OwnProgram());
    EXPECT_TRUE(std::filesystem::exists(folders[0] + "\\win32_tests.exe")); // the program's own
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
        for (const auto& [key, name, value] :
             {std::tuple{integrity, "Enabled", enabled},
              {blocklist, "VulnerableDriverBlocklistEnable", enforced}})
            if (value)
                registry.Put(key, name, kRegDword, std::string(value, 4));
        const std::string note = DriverPolicyNote(registry);
        EXPECT_TRUE(note.starts_with(start) && note.empty() == !*start) << note;
    }
}

// Runs the host's loop on a thread of this process, with `port` and a page of its own; the
// "parent" is an event the test sets to end it.
struct HostLoop {
    PortPage page{};
    Event asked{false}, parent{true}, ended{true};
    HostLoop(Port& port, bool fast) {
        page.fast = fast;
        StartThread([this, &port] {
            ServePortPage(page, {nullptr, asked.Handle(), parent.Handle()}, port);
            SetEvent(ended.Handle());
        });
    }
    ~HostLoop() {
        SetEvent(parent.Handle());
        EXPECT_EQ(WaitForSingleObject(ended.Handle(), 5000), WAIT_OBJECT_0);
    }
};

// Each reading says which read it was, modulo 100 (all closed).
struct Counting : Port {
    std::atomic<int> reads = 0;
    PortReading Inp(std::uint16_t) override { return {std::uint8_t(++reads % 100), "read"}; }
};

TEST(PortHost, ReadsOnlyWhenAskedUntilFastThenEveryMillisecondMarkedWithTheClosuresFirstInstant) {
    Counting counting;
    HostLoop host(counting, true); // not before the first request: a library may take long
    Sleep(100);
    EXPECT_EQ(counting.reads, 0);
    SetEvent(host.asked.Handle());
    Sleep(300);
    EXPECT_GT(counting.reads, 15);
    host.page.fast = 0;
    Sleep(50);
    const int reads = counting.reads;
    Sleep(100);
    EXPECT_EQ(counting.reads, reads);
    SetEvent(host.asked.Handle());
    for (int i = 0; i < 100 && counting.reads == reads; ++i)
        Sleep(10);
    EXPECT_EQ(counting.reads, reads + 1);
    Sleep(20);
    EXPECT_EQ(host.page.sequence, 2 * (reads + 1));
    EXPECT_EQ(host.page.status, (reads + 1) % 100);
    EXPECT_EQ(std::string(host.page.note), "read");
    EXPECT_TRUE(host.page.closed && host.page.closedAtNs > 0 &&
                host.page.closedAtNs < MonotonicNs());
}

// The window's side, with a real host started from a copy of larkmoor.exe beside `library`
// (placed as ntport.dll), on a tick count the test moves.
struct Hosted {
    Folder folder{"Larkmoor Host"};
    std::uint32_t now = 0;
    std::optional<StatusRegister> chosen = StatusRegister{kStatusPort, "none listed"};
    std::unique_ptr<Port> port;
    explicit Hosted(const char* library) {
        EXPECT_TRUE(std::filesystem::copy_file(LARKMOOR_EXE, folder.path + "\\larkmoor.exe"));
        folder.Place(library, "ntport.dll");
        port = MakeHostedPort(
            folder.path + "\\larkmoor.exe", [this] { return chosen; }, [this] { return now; },
            [] { return false; }, nullptr);
    }
    // Ticks every 10 ms of real time, the tick count standing, until the reading's note holds
    // `part` and, if `read`, it has a status (for up to 5 s); the last reading.
    PortReading Until(const std::string& part, bool read = false) {
        PortReading reading;
        for (int i = 0; i < 500; ++i, Sleep(10))
            if ((reading = port->Inp(kStatusPort)).note.find(part) != std::string::npos &&
                (!read || reading.status))
                break;
        return reading;
    }
};

TEST(HostedPort, ReadsThroughItsHostAtTheRegisterChosenAndANewOneCountsFromItsOwnReading) {
    Hosted hosted("ntport.dll");
    EXPECT_EQ(hosted.port->Inp(kStatusPort).note, "Waiting for the port library to answer.");
    PortReading reading = hosted.Until("Reading 0x379 (none listed) through ", true);
    EXPECT_EQ(reading.status, 0x71);
    EXPECT_EQ(reading.note,
              "Reading 0x379 (none listed) through " + hosted.folder.path + "\\ntport.dll.");
    EXPECT_TRUE(reading.closedAtNs);
    Sleep(50); // a reading at 0x379 waits in the page
    hosted.chosen = StatusRegister{0xE001, "LPT1 at 0xE000"};
    for (int i = 0; i < 500; ++i, Sleep(10)) { // never a reading taken at the old register
        const PortReading next = hosted.port->Inp(kStatusPort);
        ASSERT_NE(next.status, 0x71);
        if (next.status) {
            EXPECT_EQ(next.status, 0x01);
            break;
        }
    }
    hosted.chosen = StatusRegister{std::nullopt, "Windows lists LPT1 but could not"};
    EXPECT_EQ(hosted.Until("Windows lists").status, std::nullopt);
    hosted.chosen.reset();
    EXPECT_EQ(hosted.Until("Looking for the parallel port").status, std::nullopt);
}

// A library that never ends its start-up, or one that crashes or stops in its read: "No Port"
// with the reason, the host ended, and started again a minute later or at once when the library
// files change.
TEST(HostedPort, AHostThatHangsCrashesOrStopsIsNoPortWithItsReasonAndStartedAgainLater) {
    const struct {
        const char* library;
        const char* reason;
    } cases[] = {
        {"stuck.dll", "The port library has not answered for 1 s: it may be stuck starting"},
        {"silent.dll", "The port library has not answered for 1 s: it may be stuck starting"},
        {"crash.dll", "The port library crashed: exception 0xC0000005 in "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        Hosted hosted(c.library);
        hosted.port->Inp(kStatusPort);                // starts the host
        if (c.library == std::string("silent.dll")) { // it answers once, then never
            EXPECT_EQ(hosted.Until("Reading", true).status, 0x71);
        }
        if (c.library != std::string("crash.dll"))
            hosted.now += 1000;
        const PortReading stopped = hosted.Until(c.reason);
        EXPECT_PRED_FORMAT2(testing::IsSubstring, c.reason, stopped.note);
        EXPECT_TRUE(stopped.note.ends_with("Larkmoor loads it again when its files change, or in "
                                           "a minute."));
        hosted.now += 59'999;
        EXPECT_EQ(hosted.port->Inp(kStatusPort).note, stopped.note);
        hosted.now += 1;
        EXPECT_EQ(hosted.port->Inp(kStatusPort).note, "Waiting for the port library to answer.");
    }
    Hosted hosted("stuck.dll"); // put right: used within 5 s of the change
    hosted.port->Inp(kStatusPort);
    hosted.now += 1000;
    hosted.Until("has not answered");
    std::filesystem::remove(hosted.folder.path + "\\ntport.dll");
    hosted.folder.Place("ntport.dll", "ntport.dll");
    hosted.now += 4999;
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "has not answered",
                        hosted.port->Inp(kStatusPort).note);
    hosted.now += 1;
    EXPECT_EQ(hosted.Until("Reading", true).status, 0x71);
}

// SetProcessInformation as the host calls it, recorded.
int calls = 0;
std::array<ULONG, 3> state{};
BOOL WINAPI Record(HANDLE process, int kind, void* data, DWORD size) {
    ++calls;
    std::memcpy(state.data(), data, std::min<DWORD>(size, sizeof state));
    return process == GetCurrentProcess() && kind == 4 && size == sizeof state;
}

TEST(PortHost, AsksToKeepItsTimerResolutionWhereWindowsCan) {
    EXPECT_FALSE(KeepTimerResolution(nullptr)); // XP: nothing to call
    EXPECT_TRUE(KeepTimerResolution(Record));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(state, (std::array<ULONG, 3>{1, 0x4, 0})); // version 1, ignore-timer-resolution off
}

// Lists as told, in turn, noting what was chosen before each list and whether the thread has COM.
struct Scripted : ParallelPorts {
    std::vector<Ports> lists;
    std::atomic<const ChosenRegister*> chosen = nullptr;
    std::vector<std::string> seen;
    bool com = true;
    Ports List() override {
        while (!chosen) // until the test holds what is chosen
            Sleep(1);
        const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(again))
            CoUninitialize();
        com = com && again == S_FALSE; // S_OK: this thread had no COM of its own
        if (seen.size() < lists.size())
            seen.push_back((*chosen.load())().value_or(StatusRegister{}).which.substr(0, 22));
        return lists[std::min(seen.size(), lists.size()) - 1];
    }
};

TEST(PortFinder, ListedAgainUntilAPortMayBeReadThenEveryPeriodAndAFailureKeepsTheLastGoodOne) {
    auto owned = std::make_unique<Scripted>();
    Scripted& lister = *owned;
    const Ports noRange{{{"LPT1", std::nullopt}}};
    lister.lists = {Ports{}, noRange, Ports{{{"LPT1", 0xE000}}}, Ports{}, noRange, kNone, kNone};
    const ChosenRegister chosen = FindPortInBackground(std::move(owned), 10, 30);
    EXPECT_FALSE(chosen()); // nothing while the first list is under way
    lister.chosen = &chosen;
    for (int i = 0; i < 500 && lister.seen.size() < lister.lists.size(); ++i)
        Sleep(10);
    EXPECT_TRUE(lister.com);
    EXPECT_EQ(lister.seen,
              (std::vector<std::string>{"", "Windows could not list", "Windows lists LPT1 but",
                                        "LPT1 at 0xE000", "LPT1 at 0xE000", "LPT1 at 0xE000",
                                        "Windows lists no paral"}));
    // Looked for again soon while no port may be read, then listed again only after a long while.
    auto once = std::make_unique<Scripted>();
    Scripted& slow = *once;
    slow.lists = {Ports{}, Ports{{{"LPT1", 0xE000}}}, kNone};
    const ChosenRegister found = FindPortInBackground(std::move(once), 10, 60000);
    slow.chosen = &found;
    for (int i = 0; i < 500 && slow.seen.size() < 2; ++i)
        Sleep(10);
    Sleep(200);
    EXPECT_EQ(slow.seen.size(), 2u);
    const ChosenRegister system = FindPortInBackground(MakeSystemParallelPorts()); // Wine's
    for (int i = 0; i < 1000 && !system(); ++i)
        Sleep(10);
    EXPECT_TRUE(system());

    // Of a port's I/O ranges, the lower of an ECP pair, else the one 8 addresses long.
    using Ranges = std::vector<IoRange>;
    const std::pair<Ranges, std::optional<int>> cases[] = {
        {{{0x778, 0x77A}, {0x378, 0x37F}}, 0x378},
        {{{0xD000, 0xD003}, {0xD010, 0xD017}}, 0xD010},
        {{{0xE000, 0xE003}}, 0xE000},
        {{}, std::nullopt},
    };
    for (const auto& [ranges, base] : cases)
        EXPECT_EQ(StandardRegisters(ranges), base);
    EXPECT_EQ(WmiPortResourceQuery("PCI\\VEN_1C00&DEV_3050\\4&2\"X"),
              "ASSOCIATORS OF {Win32_PnPEntity.DeviceID=\"PCI\\\\VEN_1C00&DEV_3050\\\\4&2\\\"X\"} "
              "WHERE ResultClass = Win32_PortResource");
}

TEST(PortFinder, WmiIsWaitedForWithinLimitsOnlyACompleteListCountsAndXpGetsNoNewFlags) {
    const IoRange first{0xD000, 0xD003}, last{0xD010, 0xD017};
    using Rows = std::vector<std::pair<HRESULT, std::optional<IoRange>>>;
    const std::pair<Rows, std::optional<std::vector<IoRange>>> cases[] = {
        {{{WBEM_S_FALSE, {}}}, std::vector<IoRange>{}},
        {{{WBEM_S_NO_ERROR, first}, {WBEM_S_FALSE, last}}, std::vector{first, last}},
        {{{WBEM_S_NO_ERROR, first}, {WBEM_S_TIMEDOUT, {}}}, {}},
        {{{static_cast<HRESULT>(WBEM_E_FAILED), {}}}, {}},
    };
    for (const auto& [rows, ranges] : cases) {
        std::size_t at = 0;
        long waited = -1;
        const auto got = WmiRanges([&](long waitMs, std::optional<IoRange>& range) {
            waited = waitMs;
            range = rows[at].second;
            return rows[at++].first;
        });
        EXPECT_EQ(got.has_value(), ranges.has_value()) << at;
        EXPECT_EQ(got.value_or(std::vector<IoRange>{}).size(),
                  ranges.value_or(std::vector<IoRange>{}).size())
            << at;
        EXPECT_TRUE(waited >= 0 && waited <= 10'000) << waited;
    }
    EXPECT_EQ(std::pair(WmiConnectFlags(5), WmiConnectFlags(10)),
              std::pair(0l, long{WBEM_FLAG_CONNECT_USE_MAX_WAIT}));
}

TEST(Win32Readiness, TheTokenHoldsTheTimeRightAndWindowsTimeCountsOnlyWithASource) {
    EXPECT_EQ(SystemReadinessCalls().holdsTimePrivilege(), true); // Wine's token does
    const struct {
        std::optional<bool> held;
        bool running;
        const char* type; // the service's source
        const char* missing;
        const char* service;
    } cases[] = {
        {true, true, "NT5DS", "", "Windows Time is running"},
        {true, true, "nosync", "", ""},
        {false, false, "NTP", "This account may not change the system time: its rights lack", ""},
        {std::nullopt, false, "NTP", "Windows could not read this program's rights: Access", ""},
    };
    for (const auto& c : cases) {
        const ClockReadiness got = CheckWindowsReadiness(
            {[&] { return SetLastError(ERROR_ACCESS_DENIED), c.held; },
             [&](const char* name) { return c.running && name == std::string("W32Time"); },
             [&] {
                 auto registry = std::make_unique<fakes::FakeRegistry>();
                 registry->Put("SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters", "Type",
                               kRegSz, c.type);
                 return registry;
             }});
        EXPECT_TRUE(got.missing.starts_with(c.missing) && got.missing.empty() == !*c.missing &&
                    got.timeService == c.service);
    }
    std::atomic<int> checks = 0; // checked again and again on a thread of its own
    const auto again = MakeBackgroundReadiness([&] { return ClockReadiness{++checks > 2}; }, 1);
    for (int i = 0; i < 300 && !again->Latest().checked; ++i)
        Sleep(10);
    EXPECT_TRUE(again->Latest().checked);
}

// Real files and programs, and Wine's real registry read as the launcher reads it.
TEST(Win32Launcher, ANormalFileIsStartedAsOneFileAndTheRegistryIsOnlyRead) {
    Folder folder;
    const std::string tool = folder.Place("marker_program.exe", "the tool.exe");
    const auto programs = MakeSystemPrograms();
    EXPECT_TRUE(programs->NormalFileExists(tool));
    for (DWORD attribute : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_NORMAL}) {
        SetFileAttributesA(tool.c_str(), attribute);
        EXPECT_EQ(programs->NormalFileExists(tool), attribute == FILE_ATTRIBUTE_NORMAL);
    }
    EXPECT_FALSE(programs->NormalFileExists(folder.path));
    EXPECT_FALSE(programs->Start(tool + ".gone"));
    EXPECT_FALSE(programs->Start(""));
    SetCurrentDirectoryA(folder.path.c_str()); // where the tool writes the command line it got
    ASSERT_TRUE(programs->Start(tool));
    std::string ran;
    for (int i = 0; i < 1000 && ran.empty(); ++i, Sleep(10)) // a new process under Wine is slow
        std::getline(std::ifstream(folder.path + "\\ran"), ran);
    EXPECT_EQ(ran, "\"" + tool + "\"");

    // A key that anyone may read or delete but not write: the launcher opens it only to read.
    const char* const keyName = "SOFTWARE\\Larkmoor Tests";
    HKEY key = nullptr;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName);
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, keyName, &key), ERROR_SUCCESS);
    const std::tuple<const char*, DWORD, std::string, std::optional<std::string>> cases[] = {
        {"terminated", REG_SZ, std::string("C:\\a b\\x.exe\0", 13), "C:\\a b\\x.exe"},
        {"expandable", REG_EXPAND_SZ, std::string("%SystemDrive%\\x\0", 16), "C:\\x"},
        {"too large", REG_SZ, std::string(1500, 'z'), std::nullopt},
    };
    for (const auto& [name, type, data, text] : cases)
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), data.size());
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KRSD;;;WD)", SDDL_REVISION_1,
                                                         &readOnly, nullptr);
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
    LocalFree(readOnly);
    RegCloseKey(key);
    const auto registry = MakeSystemRegistry();
    fakes::FakeWindowSystem windows;
    FrmAbout about(windows, *registry, *programs);
    for (const auto& [name, type, data, text] : cases) {
        std::string read = "stale";
        EXPECT_EQ(about.GetKeyValue(kHkeyLocalMachine, keyName, name, read), text.has_value());
        EXPECT_EQ(read, text.value_or("")) << name;
    }
    std::string read;
    EXPECT_FALSE(about.GetKeyValue(kHkeyLocalMachine, keyName, "missing", read));
    EXPECT_FALSE(about.GetKeyValue(kHkeyLocalMachine, "SOFTWARE\\Larkmoor Missing", "x", read));
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName), ERROR_SUCCESS);
}

// The name taken first by another program, with rights of its own; the next one held by a thread of
// this test as another session's Larkmoor, which has no window here; with the event of one in this
// session, it is asked to show its window.
TEST(OnePerPc, AStartInAnotherSessionIsToldAndTakesOverASecondInThisOneAsksToBeShown) {
    const std::string title = "Larkmoor Test " + std::to_string(GetCurrentProcessId());
    HANDLE squatter = CreateMutexA(nullptr, TRUE, ("Global\\" + title).c_str());
    SECURITY_ATTRIBUTES larkmoors{sizeof larkmoors, nullptr, FALSE}; // as every Larkmoor makes it
    ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x120000;;;AU)", SDDL_REVISION_1,
        &larkmoors.lpSecurityDescriptor, nullptr);
    Event holding(true), ended(true), done(true), waiting(true);
    StartThread([&] { // ends without letting go: abandoned
        CreateMutexA(&larkmoors, TRUE, ("Global\\" + title + " 2").c_str());
        SignalObjectAndWait(holding.Handle(), ended.Handle(), INFINITE, FALSE);
    });
    WaitForSingleObject(holding.Handle(), INFINITE);
    std::string told;
    std::atomic<int> held = -1;
    StartThread([&] { // holds the PC until the test ends
        held = HoldThePc(title,
                         [&](const std::string& text) { told = text, SetEvent(waiting.Handle()); });
        WaitForSingleObject(done.Handle(), INFINITE);
    });
    WaitForSingleObject(waiting.Handle(), 10000); // a second start here asks it to show, ends
    EXPECT_FALSE(HoldThePc(title, [](const std::string& text) { ADD_FAILURE() << text; }));
    SetEvent(ended.Handle());
    for (int i = 0; i < 300 && held == -1; ++i)
        Sleep(10);
    EXPECT_TRUE(held == 1 && told.find("in another user's session.") != std::string::npos) << told;
    // Now held in this session: a later start asks it to show its window, and says nothing.
    EXPECT_FALSE(HoldThePc(title, [](const std::string& text) { ADD_FAILURE() << text; }));
    // Also one without elevation, whose token Wine does not tell apart: every signed-in user may
    // set the event (Authenticated Users).
    HANDLE asked = OpenEventA(READ_CONTROL, FALSE, ("Local\\" + title + " show").c_str());
    EXPECT_EQ(AllowedToEveryUser(asked) & EVENT_MODIFY_STATE, EVENT_MODIFY_STATE);
    CloseHandle(asked);
    LocalFree(larkmoors.lpSecurityDescriptor), CloseHandle(squatter);
    SetEvent(done.Handle());
    // One without the right to set the clock, asked by a start that holds it, ends (its thread,
    // here): that start holds the PC.
    Event endAsked(true), holds(true);
    StartThread([&] {
        HoldThePc(title + " right", {}, false, [&] { SetEvent(endAsked.Handle()); });
        SetEvent(holds.Handle()), WaitForSingleObject(endAsked.Handle(), INFINITE);
    });
    WaitForSingleObject(holds.Handle(), INFINITE);
    EXPECT_TRUE(
        HoldThePc(title + " right", [](const std::string& text) { ADD_FAILURE() << text; }));
}

// What a message box of this thread said ("caption: text"), read and closed by a thread timer,
// which fires inside its modal loop too.
std::string said;
BOOL CALLBACK ReadAndClose(HWND box, LPARAM) {
    char name[16] = "", caption[64] = "", text[512] = "";
    GetClassNameA(box, name, sizeof name);
    if (std::string_view(name) != "#32770")
        return TRUE;
    GetWindowTextA(box, caption, sizeof caption);
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    said = std::string(caption) + ": " + text;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return FALSE;
}
void CALLBACK CloseBoxes(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), ReadAndClose, 0);
}

TEST(Win32Windows, AWindowThatCannotBeOpenedIsSaidAndTheProgramEndsNonzero) {
    Win32WindowSystem windows(GetModuleHandleA(nullptr));
    UnregisterClassA(kWin32FormClass, GetModuleHandleA(nullptr)); // CreateWindowEx now fails
    ui::FormEvents events;
    const auto window =
        windows.Create({"frmTest", "Test", 1500, 1500, ui::kSystemColour, {}}, events);
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, CloseBoxes);
    EXPECT_EQ(windows.Run(), 1);
    KillTimer(nullptr, timer);
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "Larkmoor: Larkmoor could not open its window frmTest: ", said);
}

// Presses and lets go of each key in turn, as the keyboard does, into the foreground window.
void Type(std::initializer_list<WORD> keys) {
    for (WORD key : keys) {
        INPUT input[2] = {};
        for (INPUT& i : input)
            i.type = INPUT_KEYBOARD, i.ki.wVk = key;
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
        Sleep(100);
    }
}

// The port host that `parent` started, opened to wait for; none where there is none.
HANDLE HostOf(HANDLE parent) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0), host = nullptr;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more && !host;
         more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == GetProcessId(parent))
            host = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
    CloseHandle(snapshot);
    return host;
}

// The program itself beside a port library that never ends its start-up (holding the loader
// lock in its host) or that crashes in its read: the window ticks on and shows "No Port" within
// 2 s, and "Files" > "Exit" chosen with the keyboard, or a WM_CLOSE sent to its window (as setup
// and many tools send it), ends the process; ended from outside, its host goes too. Started
// twice, the second restores the first's window and ends.
TEST(LarkmoorExe, ItTicksBesideAHungOrCrashingLibraryAndExitOrASentCloseEndsItAndItsHost) {
    enum class End { kExit, kSentClose, kKilled };
    const std::pair<const char*, End> runs[] = {
        {"stuck.dll", End::kExit}, {"crash.dll", End::kSentClose}, {"stuck.dll", End::kKilled}};
    for (const auto& [library, end] : runs) {
        SCOPED_TRACE(library);
        Folder folder("Larkmoor Exe");
        const std::string program = folder.path + "\\larkmoor.exe";
        ASSERT_TRUE(std::filesystem::copy_file(LARKMOOR_EXE, program));
        folder.Place(library, "ntport.dll");
        const auto start = [&] {
            return reinterpret_cast<HANDLE>(
                _spawnl(_P_NOWAIT, program.c_str(), "larkmoor", nullptr));
        };
        HANDLE first = start(), second = nullptr;
        HWND window = nullptr;
        for (int i = 0; i < 1000 && !(window = FindWindowA("LarkmoorForm", "Larkmoor")); ++i)
            Sleep(10);
        ASSERT_TRUE(window);
        if (end == End::kKilled) { // while its host hangs in its start-up
            HANDLE host = nullptr;
            for (int i = 0; i < 100 && !(host = HostOf(first)); ++i)
                Sleep(5);
            Sleep(300);
            TerminateProcess(first, 1);
            EXPECT_TRUE(host && WaitForSingleObject(host, 2000) == WAIT_OBJECT_0);
            for (HANDLE process : {first, host})
                CloseHandle(process);
            continue;
        }
        if (library == std::string("stuck.dll")) {
            ShowWindow(window, SW_MINIMIZE);
            EXPECT_EQ(WaitForSingleObject(second = start(), 10000), WAIT_OBJECT_0);
            for (int i = 0; i < 300 && IsIconic(window); ++i) // restored when it can
                Sleep(10);
            EXPECT_FALSE(IsIconic(window));
        }
        char before[16] = "", after[16] = "", port[16] = "";
        GetDlgItemTextA(window, 101, before, sizeof before); // lblTime, the second control
        for (int i = 0; i < 200 && std::string_view(port) != "No Port"; ++i, Sleep(10))
            GetDlgItemTextA(window, 100, port, sizeof port);
        EXPECT_STREQ(port, "No Port");
        Sleep(1500);
        EXPECT_STRNE((GetDlgItemTextA(window, 101, after, sizeof after), after), before);
        if (end == End::kExit) {
            SetForegroundWindow(window);
            Type({VK_MENU, VK_DOWN, VK_RETURN}); // Alt to the menu bar, down into Files, on Exit
        } else {
            SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 3000, nullptr);
        }
        EXPECT_EQ(WaitForSingleObject(first, 3000), WAIT_OBJECT_0);
        for (HANDLE process : {first, second}) // where one did not end, so that the run goes on
            if (process)
                TerminateProcess(process, 1), WaitForSingleObject(process, 3000),
                    CloseHandle(process);
    }
}

} // namespace
} // namespace larkmoor

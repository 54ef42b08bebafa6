// The Windows pieces under Wine, built at -O2 and run in Asia/Kolkata, half an hour off the hour
// (CMakeLists.txt): the clock's local reading and what it hands to SetSystemTime, test port
// libraries of each kind found by full path in a folder with a space, the port read and listed on
// threads of their own, Wine's real registry as the launcher opens it, the real "normal file"
// check and program start, and the program started twice.
#include "about/about.h"
#include "fakes.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/one_instance_win32.h"
#include "platform/win32/port_win32.h"
#include "platform/win32/readiness_win32.h"
#include "platform/win32/worker_win32.h"

#include <gtest/gtest.h>

#include <sddl.h>
#include <wbemidl.h>

#include <process.h>

#include <atomic>
#include <chrono>
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
    EXPECT_FALSE(set.ok);
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "(error 1314).\nSee \"Setting the clock without a prompt\" in the README.",
                        set.note);
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
        EXPECT_EQ(set.ok, !sets.empty()) << c.asked;
        EXPECT_EQ(set.timeText.substr(std::min<std::size_t>(set.timeText.size(), 8)),
                  set.ok ? std::string(c.set).substr(19) : "");
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
ChosenRegister Chosen(const Ports& ports) {
    return [chosen = ChooseStatusRegister(ports)] { return std::optional(chosen); };
}

TEST(PortLibrary, TheFirstUsableOneIsReadAtTheChosenPortOrTheNoteSaysWhyNone) {
    const char* open = "inpout32.dll";
    const struct {
        const char* inpout32; // the test helper placed as inpout32.dll, and as ntport.dll
        const char* ntport;
        Ports ports;
        std::optional<int> status;
        const char* note; // part of what a reading says, besides the folder
    } cases[] = {
        {{}, {}, {}, {}, "No port library: neither ntport.dll nor inpout32.dll is in "},
        {"closed.dll", {}, {}, {}, "\\inpout32.dll is not open.\nSee \"The port library and its"},
        {"closed.dll", "text.dll", {}, {}, "\\ntport.dll could not be loaded: "},
        {"ntport.dll", {}, {}, {}, "\\inpout32.dll has no routine Inp32."},
        {open, "ntport.dll", kNone, 0x71, "\\ntport.dll."},
        {open, {}, {}, {}, "Windows could not list the parallel ports: looking again."},
        {open, {}, Ports{{{"LPT2", 0x378}, {"LPT1", {}}}}, 0x71, "0x379 (LPT2 at 0x378)"},
        {open, {}, Ports{{{"LPT2", 0xE000}, {"LPT1", {}}}}, {}, "Windows lists LPT1 but could not"},
        {open, {}, kNone, 0x71, "0x379 (Windows lists no parallel port)"},
        {open, {}, Ports{{{"LPT1", 0xD010}, {"LPT2", 0x378}}}, 0x71, "0x379 (LPT2 at 0x378)"},
        {open, {}, Ports{{{"LPT2", 0x100}, {"LPT1", 0xE000}}}, 0x01, "0xE001 (LPT1 at 0xE000)"},
        {open, {}, Ports{{{"LPT10", 0x3BC}, {"LPT2", 0x100}, {"LPT3", 0x278}}}, 1, "0x101 (LPT2"},
    };
    for (const auto& c : cases) {
        Folder folder;
        for (const auto& [helper, as] :
             {std::pair{c.inpout32, "inpout32.dll"}, {c.ntport, "ntport.dll"}})
            if (helper)
                folder.Place(helper, as);
        const auto port = MakeLibraryPort({folder.path}, Chosen(c.ports), [] { return 0u; });
        for (int i = 0; i < 1000; ++i) // a stack that a call leaves wrong fails by here
            ASSERT_EQ(port->Inp(kStatusPort).status, c.status) << c.note;
        EXPECT_PRED_FORMAT2(testing::IsSubstring, c.note, port->Inp(kStatusPort).note);
        const std::string note = port->Inp(kStatusPort).note; // names the library of a reading
        EXPECT_TRUE(std::string_view(c.note).starts_with("Windows") ||
                    note.find(folder.path) != std::string::npos);
    }
    // The first folder (the program's own) before the second (the system's).
    Folder own, system("Larkmoor System");
    own.Place("inpout32.dll", "inpout32.dll");
    system.Place("cdecl.dll", "inpout32.dll");
    const auto port = MakeLibraryPort({own.path, system.path}, Chosen(kNone), [] { return 0u; });
    EXPECT_PRED_FORMAT2(testing::IsSubstring, own.path + "\\inpout32.dll.",
                        port->Inp(kStatusPort).note);
}

// A cdecl routine leaves its argument on the stack, which the call puts right.
TEST(PortLibrary, ACdeclRoutineIsCalledAsSafelyAsAStdcallOne) {
#ifndef __i386__
    GTEST_SKIP() << "x86-64 has one calling convention: only the 32-bit program can get it wrong";
#else
    Folder folder;
    folder.Place("cdecl.dll", "inpout32.dll");
    const auto port = MakeLibraryPort({folder.path}, Chosen(kNone), [] { return 0u; });
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(port->Inp(kStatusPort).status, 0x71);
#endif
}

TEST(PortLibrary, OneLaterBesideTheProgramIsUsedWithin5SecondsOneInTheCurrentDirectoryNever) {
    Folder folder;
    folder.Place("inpout32.dll", "inpout32.dll");
    SetCurrentDirectoryA(folder.path.c_str());
    const std::vector<std::string> folders = PortLibraryFolders();
    EXPECT_TRUE(std::filesystem::exists(folders[0] + "\\win32_tests.exe")); // the program's own
    std::uint32_t now = 0xFFFFF000; // four seconds before the tick count wraps around
    std::optional<StatusRegister> chosen;
    auto port = MakeLibraryPort(
        folders, [&] { return chosen; }, [&] { return now; });
    EXPECT_PRED_FORMAT2(testing::IsSubstring, " in " + folders[0] + " or " + folders[1] + ".",
                        port->Inp(kStatusPort).note);
    const std::string later = folder.Place("inpout32.dll", "inpout32.dll", folders[0]);
    for (std::uint32_t step : {1000, 3000, 999}) { // looked for every 5 s, across the wrap
        now += step;
        EXPECT_EQ(port->Inp(kStatusPort).note.substr(0, 16), "No port library:") << now;
    }
    now += 1;
    // Read once a status register is chosen, and from a new one after one reading of none.
    EXPECT_EQ(port->Inp(kStatusPort).note,
              "Looking for the parallel port: Windows is listing the ports.");
    chosen = StatusRegister{0x379, "none"};
    EXPECT_EQ(port->Inp(kStatusPort).status, 0x71);
    chosen = StatusRegister{0xE001, "LPT1 at 0xE000"}; // one unreadable reading at a change
    EXPECT_FALSE(port->Inp(kStatusPort).status);
    EXPECT_EQ(port->Inp(kStatusPort).status, 0x01);
    port.reset();
    std::filesystem::remove(later);
}

TEST(PortLibrary, ARefusedOneIsLoadedAgainOnlyOnceAMinute) {
    Folder folder;
    folder.Place("closed.dll", "inpout32.dll");
    std::uint32_t now = 0;
    const auto port = MakeLibraryPort({folder.path}, Chosen({}), [&] { return now; });
    SetEnvironmentVariableA("PORT_LIBRARY_LOADS", "0");
    for (; now < 10 * 60000; now += 50) // ten minutes of ticks
        port->Inp(kStatusPort);
    char loads[16] = "";
    GetEnvironmentVariableA("PORT_LIBRARY_LOADS", loads, sizeof loads);
    EXPECT_STREQ(loads, "10");
}

// A port whose reads block until released.
struct Gate {
    HANDLE open = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> passed = 0;
    void Pass() { WaitForSingleObject(open, INFINITE), ++passed; }
};
struct Blocking : Port {
    Gate& gate;
    explicit Blocking(Gate& g) : gate(g) {}
    PortReading Inp(std::uint16_t) override { return gate.Pass(), PortReading{0x7F, "read"}; }
};

TEST(BackgroundPort, AReadThatBlocksNeverHoldsTheCallerAndIsNoPortAfterASecond) {
    Gate gate;
    SetEvent(gate.open);
    std::uint32_t now = 0;
    const auto port = MakeBackgroundPort(std::make_unique<Blocking>(gate), [&] { return now; });
    const auto readWithinASecond = [&] { // the thread may be slow to start on a busy machine
        for (int i = 0; i < 100 && !port->Inp(kStatusPort).status; ++i)
            Sleep(10);
        return port->Inp(kStatusPort).status;
    };
    EXPECT_EQ(readWithinASecond(), 0x7F);
    ResetEvent(gate.open);
    for (std::uint32_t step : {0, 999, 1, 5000}) {
        now += step;
        const auto start = std::chrono::steady_clock::now();
        const PortReading reading = port->Inp(kStatusPort);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
        EXPECT_EQ(reading.status.has_value(), now < 1000) << now; // the last reading, then none
        EXPECT_EQ(reading.note.substr(0, 22), now < 1000 ? "read" : "The port library has n");
    }
    SetEvent(gate.open);
    EXPECT_EQ(readWithinASecond(), 0x7F);
}

// Each reading says which read it was (all closed).
struct Counting : Port {
    std::atomic<int> reads = 0;
    PortReading Inp(std::uint16_t) override { return {std::uint8_t(++reads), "read"}; }
};

TEST(BackgroundPort, EachTickGetsTheReadingItAskedForMarkedWithTheClosuresFirstInstant) {
    auto inner = std::make_unique<Counting>();
    const Counting& counting = *inner;
    const auto port = MakeBackgroundPort(std::move(inner), [] { return 0u; });
    int fresh = 0;
    std::optional<std::int64_t> closedAt;
    for (int tick = 0; tick < 20; ++tick, Sleep(20)) { // a read still under way is done after it
        const PortReading reading = port->Inp(kStatusPort);
        closedAt = closedAt ? closedAt : reading.closedAtNs;
        EXPECT_EQ(reading.closedAtNs, closedAt);
        Sleep(20), fresh += reading.status == std::optional<std::uint8_t>(counting.reads.load());
    }
    EXPECT_GT(fresh, 10); // a busy machine may keep a few waiting
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
    for (HRESULT end : {WBEM_S_FALSE, WBEM_S_TIMEDOUT, WBEM_E_FAILED}) {
        long waited = -1;
        const auto ranges = WmiRanges([&](long waitMs, IWbemClassObject**, ULONG* count) {
            return waited = waitMs, *count = 0, end;
        });
        EXPECT_EQ(ranges.has_value(), end == WBEM_S_FALSE) << end;
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
        {true, true, "NT5DS", "", "Windows Time"},
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

// The program itself, beside a port library that never ends its start-up (holding the loader
// lock), started twice: the second restores the first's window and ends; the first's clock ticks
// on, and a WM_CLOSE sent to its window ends the process all the same.
TEST(LarkmoorExe, ASecondStartShowsTheFirstWhichTicksBesideAHungLibraryAndEndsAtASentClose) {
    Folder folder("Larkmoor Stuck");
    const std::string program = folder.path + "\\larkmoor.exe";
    ASSERT_TRUE(std::filesystem::copy_file(LARKMOOR_EXE, program));
    folder.Place("stuck.dll", "ntport.dll");
    const auto start = [&] {
        return reinterpret_cast<HANDLE>(_spawnl(_P_NOWAIT, program.c_str(), "larkmoor", nullptr));
    };
    HANDLE first = start(), second = nullptr;
    HWND window = nullptr;
    for (int i = 0; i < 1000 && !(window = FindWindowA("LarkmoorForm", "Larkmoor")); ++i)
        Sleep(10);
    ASSERT_TRUE(window);
    ShowWindow(window, SW_MINIMIZE);
    EXPECT_EQ(WaitForSingleObject(second = start(), 10000), WAIT_OBJECT_0);
    for (int i = 0; i < 300 && IsIconic(window); ++i) // the first restores it when it can
        Sleep(10);
    EXPECT_FALSE(IsIconic(window));
    char before[16] = "", after[16] = "";
    GetDlgItemTextA(window, 101, before, sizeof before); // lblTime, the second control
    Sleep(1500);
    EXPECT_STRNE((GetDlgItemTextA(window, 101, after, sizeof after), after), before);
    SendMessageA(window, WM_CLOSE, 0, 0); // as setup and the uninstaller close it
    EXPECT_EQ(WaitForSingleObject(first, 3000), WAIT_OBJECT_0);
    for (HANDLE process : {first, second}) // where one did not end, so that the run goes on
        TerminateProcess(process, 1), WaitForSingleObject(process, 3000), CloseHandle(process);
}

} // namespace
} // namespace larkmoor

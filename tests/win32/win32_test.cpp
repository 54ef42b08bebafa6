// The Windows pieces under Wine, built at -O2 and run in Asia/Kolkata, half an hour off the hour
// (CMakeLists.txt): the clock's local reading and a refused set, test port libraries of each kind
// found by full path in a folder with a space, the status register chosen, Wine's real registry
// as the launcher opens it, and the real "normal file" check and program start.
#include "about/about.h"
#include "fakes.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/port_win32.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <sddl.h>

#include <ctime>
#include <filesystem>
#include <fstream>

namespace larkmoor {
namespace {

TEST(Win32Clock, AReadingIsTheLocalTimeOfWindowsAndWineRefusesASet) {
    SYSTEMTIME local{};
    GetLocalTime(&local);
    const auto clock = MakeSystemClock();
    const ClockReading reading = clock->Now();
    EXPECT_EQ(reading.hour, local.wHour);
    EXPECT_NEAR(reading.minute * 60 + reading.second, local.wMinute * 60 + local.wSecond, 1);
    EXPECT_NEAR(reading.utcNs / 1'000'000'000, std::time(nullptr), 1);
    EXPECT_EQ(reading.nanosecond, reading.utcNs % 1'000'000'000);
    EXPECT_EQ(FileTimeToUnixNs(UnixNsToFileTime(reading.utcNs)), reading.utcNs);
    // Wine refuses to move the clock more than half a second; Windows might not.
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") || reading.minute == 54)
        GTEST_SKIP() << "a set might succeed";
    // A set that succeeds has no note.
    const ClockSet set = clock->SetTimeOfDay(reading, TimeText(reading).substr(0, 3) + "54:30");
    EXPECT_PRED_FORMAT2(testing::IsSubstring,
                        "(error 1314).\nSee \"Setting the clock without a prompt\" in the README.",
                        set.note);
}

// A fresh folder with a space in its name, gone with what it holds when the test ends.
struct Folder {
    Folder() {
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
    const std::string path = (std::filesystem::temp_directory_path() / "Larkmoor Test").string();
};

using Ports = std::optional<std::vector<ParallelPort>>;
struct ListedPorts : ParallelPorts {
    explicit ListedPorts(Ports listed) : ports(std::move(listed)) {}
    Ports List() override { return ports; }
    Ports ports;
};

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
        {{}, "text.dll", {}, {}, "\\ntport.dll could not be loaded: "},
        {"ntport.dll", {}, {}, {}, "\\inpout32.dll has no routine Inp32."},
        {open, "ntport.dll", {}, 0x71, "\\ntport.dll."},
        {open, {}, {}, 0x71, "0x379 (Windows could not list the parallel ports)"},
        {open, {}, std::vector<ParallelPort>{}, 0x71, "0x379 (Windows lists no parallel port)"},
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
        const auto port = MakeLibraryPort({folder.path}, std::make_unique<ListedPorts>(c.ports),
                                          [] { return 0u; });
        for (int i = 0; i < 1000; ++i) // a stack that a call leaves wrong fails by here
            ASSERT_EQ(port->Inp(kStatusPort).status, c.status) << c.note;
        EXPECT_PRED_FORMAT2(testing::IsSubstring, c.note, port->Inp(kStatusPort).note);
        EXPECT_PRED_FORMAT2(testing::IsSubstring, folder.path, port->Inp(kStatusPort).note);
    }
}

// A cdecl routine leaves its argument on the stack, which the call puts right.
TEST(PortLibrary, ACdeclRoutineIsCalledAsSafelyAsAStdcallOne) {
#ifndef __i386__
    GTEST_SKIP() << "x86-64 has one calling convention: only the 32-bit program can get it wrong";
#else
    Folder folder;
    folder.Place("cdecl.dll", "inpout32.dll");
    const auto port = MakeLibraryPort({folder.path}, std::make_unique<ListedPorts>(std::nullopt),
                                      [] { return 0u; });
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(port->Inp(kStatusPort).status, 0x71);
#endif
}

TEST(PortLibrary, OneLaterBesideTheProgramIsUsedWithin5SecondsOneInTheCurrentDirectoryNever) {
    // WMI knows no I/O range of a device that is not there, and leaves COM as it found it.
    EXPECT_FALSE(WmiIoBase("ROOT\\NO\"NE\\0000"));
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CoUninitialize();
    Folder folder;
    folder.Place("inpout32.dll", "inpout32.dll");
    SetCurrentDirectoryA(folder.path.c_str());
    const std::vector<std::string> folders = PortLibraryFolders();
    std::uint32_t now = 0xFFFFF000; // four seconds before the tick count wraps around
    auto port =
        MakeLibraryPort(folders, std::make_unique<ListedPorts>(std::nullopt), [&] { return now; });
    EXPECT_PRED_FORMAT2(testing::IsSubstring, " in " + folders[0] + " or " + folders[1] + ".",
                        port->Inp(kStatusPort).note);
    const std::string later = folder.Place("inpout32.dll", "inpout32.dll", folders[0]);
    now += 4999;
    EXPECT_FALSE(port->Inp(kStatusPort).status); // looked for every 5 s, not on every read
    now += 1;
    EXPECT_EQ(port->Inp(kStatusPort).status, 0x71);
    port.reset();
    std::filesystem::remove(later);
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

} // namespace
} // namespace larkmoor

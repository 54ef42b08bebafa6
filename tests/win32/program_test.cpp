// Programs and processes under Wine: the launcher's real "normal file" check, program start and
// registry; one Larkmoor per PC; a window that cannot open; and the program itself, started twice
// and beside port libraries that hang or crash.
#include "about/about.h"
#include "gui/driver.h"
#include "helpers.h"
#include "platform/win32/one_instance_win32.h"
#include "platform/win32/window_win32.h"
#include "platform/win32/worker_win32.h"

#include <process.h>
#include <sddl.h>

#include <fstream>

namespace larkmoor {
namespace {

// Real files and programs, and Wine's real registry read as the launcher reads it.
TEST(Win32Launcher, ANormalFileIsStartedAsOneFileAndTheRegistryIsOnlyRead) {
    Folder folder;
    const std::string tool = folder.Place("marker_program.exe", "the tool.exe");
    const auto programs = MakeSystemPrograms();
    EXPECT_TRUE(programs->NormalFileExists(tool));
    for (DWORD kind : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_NORMAL}) {
        SetFileAttributesA(tool.c_str(), kind);
        EXPECT_EQ(programs->NormalFileExists(tool), kind == FILE_ATTRIBUTE_NORMAL) << kind;
    }
    EXPECT_FALSE(programs->NormalFileExists(folder.path));
    EXPECT_FALSE(programs->Start(tool + ".gone"));
    SetCurrentDirectoryA(folder.path.c_str()); // where the tool writes the command line it got
    ASSERT_TRUE(programs->Start(tool));
    std::string ran; // a new process under Wine is slow
    Within(10000, [&] { return std::getline(std::ifstream("ran"), ran) && !ran.empty(); });
    EXPECT_EQ(ran, "\"" + tool + "\"");

    // A key that anyone may read or delete but not write: the launcher opens it only to read, and
    // expands its value.
    const char* const keyName = "SOFTWARE\\Larkmoor Tests";
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName);
    HKEY created = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, keyName, &created), ERROR_SUCCESS);
    const RegistryHandle key(created);
    RegSetValueExA(key.Get(), "x", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>("%SystemDrive%\\x"), 16);
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KRSD;;;WD)", SDDL_REVISION_1,
                                                         &readOnly, nullptr);
    const LocalMemory descriptor(readOnly);
    EXPECT_EQ(RegSetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
    const auto registry = MakeSystemRegistry();
    fakes::FakeWindowSystem windows;
    std::string read;
    EXPECT_TRUE(
        FrmAbout(windows, *registry, *programs).GetKeyValue(kHkeyLocalMachine, keyName, "x", read));
    EXPECT_EQ(read, "C:\\x");
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName), ERROR_SUCCESS);
}

// The name taken first by another program, with rights of its own; the next one held by a thread of
// this test as another session's Larkmoor, which has no window here; with the event of one in this
// session, it is asked to show its window.
TEST(OnePerPc, AStartInAnotherSessionIsToldAndTakesOverASecondInThisOneAsksToBeShown) {
    const std::string title = "Larkmoor Test " + std::to_string(GetCurrentProcessId());
    const auto silent = [](const std::string& text) { ADD_FAILURE() << text; };
    const Handle squatter(CreateMutexA(nullptr, TRUE, ("Global\\" + title).c_str()));
    SECURITY_ATTRIBUTES larkmoors{sizeof larkmoors, nullptr, FALSE}; // as every Larkmoor makes it
    ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x120000;;;AU)", SDDL_REVISION_1,
        &larkmoors.lpSecurityDescriptor, nullptr);
    const LocalMemory descriptor(larkmoors.lpSecurityDescriptor);
    Event holding(true), ended(true), done(true), waiting(true);
    StartThread([&] { // ends without letting go: abandoned
        CreateMutexA(&larkmoors, TRUE, ("Global\\" + title + " 2").c_str());
        SignalObjectAndWait(holding.Handle(), ended.Handle(), INFINITE, FALSE);
    });
    WaitForSingleObject(holding.Handle(), INFINITE);
    std::string told;
    std::atomic<int> held = -1;
    StartThread([&] { // holds the PC until the test ends
        held = HoldThePc(title, [&](const std::string& text) {
            told = text;
            SetEvent(waiting.Handle());
        });
        WaitForSingleObject(done.Handle(), INFINITE);
    });
    WaitForSingleObject(waiting.Handle(), 10000); // a second start here asks it to show, ends
    EXPECT_FALSE(HoldThePc(title, silent));
    SetEvent(ended.Handle());
    Within(3000, [&] { return held != -1; });
    EXPECT_TRUE(held == 1 && told.find("in another user's session.") != std::string::npos) << told;
    // Now held in this session: a later start asks it to show its window, and says nothing.
    EXPECT_FALSE(HoldThePc(title, silent));
    // Also one without elevation, whose token Wine does not tell apart: every signed-in user may
    // set the event (Authenticated Users).
    const Handle asked(OpenEventA(READ_CONTROL, FALSE, ("Local\\" + title + " show").c_str()));
    EXPECT_EQ(AllowedToEveryUser(asked.Get()) & EVENT_MODIFY_STATE, EVENT_MODIFY_STATE);
    SetEvent(done.Handle());
    // One without the right to set the clock, asked by a start that holds it, ends (its thread,
    // here): that start holds the PC.
    Event endAsked(true), holds(true);
    StartThread([&] {
        HoldThePc(title + " right", {}, false, [&] { SetEvent(endAsked.Handle()); });
        SetEvent(holds.Handle());
        WaitForSingleObject(endAsked.Handle(), INFINITE);
    });
    WaitForSingleObject(holds.Handle(), INFINITE);
    EXPECT_TRUE(HoldThePc(title + " right", silent));
}

// Driven as the GUI suite drives the window system, which reads its message boxes.
TEST(Win32Windows, AWindowThatCannotBeOpenedIsSaidAndTheProgramEndsNonzero) {
    const auto driver = gui::MakeDriver();
    UnregisterClassA(kWin32FormClass, GetModuleHandleA(nullptr)); // CreateWindowEx now fails
    ui::FormEvents events;
    const auto window =
        driver->Windows().Create({"frmTest", "Test", 1500, 1500, ui::kSystemColour, {}}, events);
    const auto [code, told] = gui::RunPressingOk(*driver);
    EXPECT_EQ(code, 1);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "could not open its window frmTest: ", told);
}

// Ends a process of the test's where it has not ended by itself, so that the run goes on.
void EndProcess(HANDLE process) {
    TerminateProcess(process, 1);
    WaitForSingleObject(process, 3000);
    CloseHandle(process);
}
using Started = Owned<NullIsNone<HANDLE, EndProcess>>;

// The text of control `id` of `window`.
std::string TextOf(HWND window, int id) {
    char text[16] = "";
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
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
        SCOPED_TRACE(testing::Message() << library << ", ended by " << static_cast<int>(end));
        Folder folder("Larkmoor Exe");
        const std::string program = folder.Place(LARKMOOR_EXE, "larkmoor.exe");
        const std::string loaded = folder.Place(library, "ntport.dll");
        const auto start = [&] { return _spawnl(_P_NOWAIT, program.c_str(), "larkmoor", nullptr); };
        const Started first(reinterpret_cast<HANDLE>(start()));
        HWND window = nullptr;
        ASSERT_TRUE(
            Within(10000, [&] { return (window = FindWindowA("LarkmoorForm", "Larkmoor")); }));
        // Ended while its host hangs in the library's start-up. Only the host loads the library,
        // and Windows lets nobody write to a file that a program has loaded.
        if (end == End::kKilled) {
            const auto inUse = [&] { return !std::ofstream(loaded, std::ios::app); };
            ASSERT_TRUE(Within(5000, inUse));
            TerminateProcess(first.Get(), 1);
            EXPECT_TRUE(Within(2000, [&] { return !inUse(); }));
            continue;
        }
        ShowWindow(window, SW_MINIMIZE);
        const Started second(reinterpret_cast<HANDLE>(start()));
        EXPECT_EQ(WaitForSingleObject(second.Get(), 10000), WAIT_OBJECT_0);
        EXPECT_TRUE(Within(3000, [&] { return !IsIconic(window); })); // restored when it can
        const std::string before = TextOf(window, 101);               // lblTime, the second control
        EXPECT_TRUE(Within(2000, [&] { return TextOf(window, 100) == "No Port"; }));
        Sleep(1500);
        EXPECT_NE(TextOf(window, 101), before);
        if (end == End::kExit) {
            SetForegroundWindow(window);
            for (BYTE key : {VK_MENU, VK_DOWN, VK_RETURN}) { // to the menu bar, into Files, on Exit
                keybd_event(key, 0, 0, 0); // pressed and let go, as the keyboard does
                keybd_event(key, 0, KEYEVENTF_KEYUP, 0);
                Sleep(100);
            }
        } else {
            SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 3000, nullptr);
        }
        EXPECT_EQ(WaitForSingleObject(first.Get(), 3000), WAIT_OBJECT_0);
    }
}

} // namespace
} // namespace larkmoor

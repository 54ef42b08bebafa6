// The program's own windows drawn by the Win32 window system, with a fake port and clock.
#include "about/about.h"
#include "fakes.h"
#include "mainwindow/mainwindow.h"
#include "win32_ui_support.h"

#include <gtest/gtest.h>

#include <optional>

namespace larkmoor {
namespace {

using namespace larkmoor::testing;

struct Expected {
    const char* name;
    Place place; // pixels at 96 dpi
    const char* text;
};

class Win32Forms : public ::testing::Test {
  protected:
    Win32WindowSystem windows{GetModuleHandleA(nullptr)};
    fakes::FakePort port;
    fakes::FakeClock clock;
    fakes::FakeRegistry registry; // empty: System Info is unavailable
    fakes::FakePrograms programs;
    std::optional<FrmAbout> about;
    MnuMenu main{windows, port, clock, [this] {
                     if (!about)
                         about.emplace(windows, registry, programs);
                     about->Open();
                 }};
    HWND mainHwnd = Hwnd(main.Window());

    HWND About() { return about && about->Window() ? Hwnd(*about->Window()) : nullptr; }
    HWND AboutChild(const char* name) { return Child(*about->Window(), name); }
    // Chooses a menu command as the user does, through the loop.
    void Choose(HMENU menu, int position) {
        PostMessageA(mainHwnd, WM_COMMAND, GetMenuItemID(menu, position), 0);
    }
    void ChooseAbout() { Choose(GetMenu(mainHwnd), 1); }
    void ChooseExit() { Choose(GetSubMenu(GetMenu(mainHwnd), 0), 0); }
    void OpenBoth() {
        main.Show();
        ChooseAbout();
        ASSERT_EQ(RunLoop(windows, 2000, [&] { return About() != nullptr; }), Stop::Condition);
    }
};

std::string MenuText(HMENU menu, int position) {
    char text[64] = "";
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

TEST_F(Win32Forms, MainWindowLooksAsDeclared) {
    ASSERT_EQ(dynamic_cast<Win32Window&>(main.Window()).Dpi(), 96);
    EXPECT_EQ(ClientOf(mainHwnd), (Place{0, 0, 219, 51}));
    EXPECT_EQ(TextOf(mainHwnd), "Larkmoor");
    EXPECT_TRUE(HasStyle(mainHwnd, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX));
    EXPECT_FALSE(HasStyle(mainHwnd, WS_THICKFRAME) || HasStyle(mainHwnd, WS_MAXIMIZEBOX));
    EXPECT_EQ(GetWindow(mainHwnd, GW_OWNER), nullptr);
    EXPECT_NE(GetClassLongPtrA(mainHwnd, GCLP_HICON), 0u);
    EXPECT_NE(GetClassLongPtrA(mainHwnd, GCLP_HICONSM), 0u);

    for (const Expected& e :
         {Expected{"lblPort", {8, 8, 97, 17}, ""}, Expected{"lblTime", {112, 8, 97, 17}, ""}}) {
        SCOPED_TRACE(e.name);
        HWND label = Child(main.Window(), e.name);
        EXPECT_EQ(PlaceOf(label), e.place);
        EXPECT_EQ(TextOf(label), e.text);
        EXPECT_TRUE(HasStyle(label, WS_VISIBLE | SS_NOPREFIX));
        const Painted painted = PaintedColours(label);
        EXPECT_EQ(painted.text, RGB(255, 255, 255));
        EXPECT_EQ(painted.back, RGB(0, 128, 128));
        EXPECT_EQ(painted.brush, RGB(0, 128, 128));
    }

    HMENU bar = GetMenu(mainHwnd);
    ASSERT_EQ(GetMenuItemCount(bar), 2);
    EXPECT_EQ(MenuText(bar, 0), "Files");
    HMENU files = GetSubMenu(bar, 0);
    ASSERT_NE(files, nullptr);
    ASSERT_EQ(GetMenuItemCount(files), 1);
    EXPECT_EQ(MenuText(files, 0), "Exit");
    EXPECT_EQ(GetSubMenu(files, 0), nullptr);
    EXPECT_EQ(MenuText(bar, 1), "About");
    EXPECT_EQ(GetSubMenu(bar, 1), nullptr);

    EXPECT_FALSE(IsWindowVisible(mainHwnd));
    main.Show();
    EXPECT_TRUE(IsWindowVisible(mainHwnd));
}

TEST_F(Win32Forms, TheTimerTicksEvery50msAndItsFirstTickFillsTheLabels) {
    port.status = 127; // contact open
    clock.SetNow(12, 34, 56);
    main.Show();
    ASSERT_EQ(RunLoop(windows, 2000, [&] { return clock.reads > 0; }), Stop::Condition);
    EXPECT_FALSE(IsWindowVisible(Child(main.Window(), "lblPort")));
    EXPECT_EQ(TextOf(Child(main.Window(), "lblTime")), "12:34:56");

    const int before = clock.reads;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunLoop(windows, 1000), Stop::TimeLimit);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    const int ticks = clock.reads - before;
    ASSERT_GT(ticks, 0);
    EXPECT_GE(elapsed.count() / ticks, 35);
    EXPECT_LE(elapsed.count() / ticks, 90);
}

TEST_F(Win32Forms, AboutDialogLooksAsDeclaredAfterItsLoad) {
    OpenBoth();
    HWND dialog = About();
    EXPECT_EQ(ClientOf(dialog), (Place{0, 0, 382, 229}));
    EXPECT_EQ(TextOf(dialog), "About Larkmoor");
    EXPECT_TRUE(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
    EXPECT_FALSE(HasStyle(dialog, WS_MINIMIZEBOX) || HasStyle(dialog, WS_THICKFRAME));
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), nullptr);

    const Expected controls[] = {
        {"picIcon", {16, 16, 36, 36}, ""},
        {"lblTitle", {70, 16, 259, 24}, "Larkmoor"},
        {"lblVersion", {70, 40, 259, 15}, "Version 1.0.0"},
        {"lblDescription", {14, 72, 347, 30}, kDescription},
        {"lblDisclaimer", {16, 104, 345, 79}, kDisclaimer},
        {"cmdOK", {160, 200, 52, 23}, "OK"},
        {"cmdSysInfo", {232, 200, 83, 23}, "&System Info..."},
    };
    for (const Expected& e : controls) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(PlaceOf(AboutChild(e.name)), e.place);
        EXPECT_EQ(TextOf(AboutChild(e.name)), e.text);
    }
    EXPECT_NE(SendMessageA(AboutChild("picIcon"), STM_GETICON, 0, 0), 0);
    EXPECT_TRUE(HasStyle(AboutChild("cmdOK"), BS_DEFPUSHBUTTON | WS_TABSTOP));
    EXPECT_TRUE(HasStyle(AboutChild("lblDisclaimer"), SS_NOPREFIX));
    EXPECT_FALSE(HasStyle(AboutChild("lblDisclaimer"), SS_LEFTNOWORDWRAP));

    for (const char* label : {"lblTitle", "lblVersion", "lblDescription", "lblDisclaimer"}) {
        SCOPED_TRACE(label);
        const Painted painted = PaintedColours(AboutChild(label));
        const bool system = std::string(label) == "lblVersion";
        EXPECT_EQ(painted.text, system ? GetSysColor(COLOR_BTNTEXT) : RGB(0, 0, 0));
        EXPECT_EQ(painted.brush, GetSysColor(COLOR_BTNFACE));
    }

    // Focus starts on OK, then Tab goes to System Info and back.
    HWND ok = AboutChild("cmdOK");
    HWND sysInfo = AboutChild("cmdSysInfo");
    EXPECT_EQ(GetFocus(), ok);
    EXPECT_EQ(GetNextDlgTabItem(dialog, ok, FALSE), sysInfo);
    EXPECT_EQ(GetNextDlgTabItem(dialog, sysInfo, FALSE), ok);
    PostMessageA(ok, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(RunLoop(windows, 1000, [&] { return GetFocus() == sysInfo; }), Stop::Condition);
}

TEST_F(Win32Forms, EnterAndEscapeCloseTheAboutDialog) {
    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        SCOPED_TRACE(key);
        OpenBoth();
        HWND dialog = About();
        PostMessageA(AboutChild("cmdOK"), WM_KEYDOWN, key, 0);
        EXPECT_EQ(RunLoop(windows, 2000, [&] { return About() == nullptr; }), Stop::Condition);
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_TRUE(IsWindow(mainHwnd));
    }
}

TEST_F(Win32Forms, OpeningTwiceKeepsOneDialogAndReopeningLoadsItAgain) {
    OpenBoth();
    HWND first = About();
    main.Show(); // the main window to the front, then About again
    about->Open();
    EXPECT_EQ(About(), first);
    EXPECT_EQ(GetForegroundWindow(), first);
    const auto windowsNow = ThreadWindows();
    const auto dialogs = std::count_if(windowsNow.begin(), windowsNow.end(),
                                       [](HWND w) { return TextOf(w) == "About Larkmoor"; });
    EXPECT_EQ(dialogs, 1);

    SendMessageA(AboutChild("cmdOK"), BM_CLICK, 0, 0);
    EXPECT_FALSE(IsWindow(first));
    ChooseAbout();
    ASSERT_EQ(RunLoop(windows, 2000, [&] { return About() != nullptr; }), Stop::Condition);
    EXPECT_NE(About(), first);
    EXPECT_EQ(TextOf(About()), "About Larkmoor");
    EXPECT_EQ(TextOf(AboutChild("lblVersion")), "Version 1.0.0");
    EXPECT_EQ(TextOf(AboutChild("lblDisclaimer")), kDisclaimer);
}

TEST_F(Win32Forms, TheMainTimerRunsOnWhileTheDialogAndAMessageBoxAreOpen) {
    OpenBoth();
    int start = clock.reads;
    EXPECT_EQ(RunLoop(windows, 2000, [&] { return clock.reads >= start + 5; }), Stop::Condition);

    // System Info finds nothing in the registry and says so in a box owned by the dialog.
    PostMessageA(AboutChild("cmdSysInfo"), BM_CLICK, 0, 0);
    HWND box = nullptr, owner = nullptr;
    std::string text;
    int ticksWhileOpen = 0;
    const auto boxDone = [&] {
        if (HWND open = OpenMessageBox(); open && !box) {
            box = open;
            owner = GetWindow(box, GW_OWNER);
            text = TextOf(GetDlgItem(box, 0xFFFF));
            start = clock.reads;
        } else if (open && clock.reads >= start + 5) {
            ticksWhileOpen = clock.reads - start;
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
        return box && !IsWindow(box);
    };
    EXPECT_EQ(RunLoop(windows, 5000, boxDone), Stop::Condition);
    EXPECT_EQ(owner, About());
    EXPECT_EQ(text, kSysInfoUnavailable);
    EXPECT_GE(ticksWhileOpen, 5);
    EXPECT_NE(About(), nullptr);
}

TEST_F(Win32Forms, ExitWithTheDialogOpenEndsEverything) {
    OpenBoth();
    HWND dialog = About();
    ChooseExit();
    EXPECT_EQ(RunLoop(windows, 3000), Stop::ByItself);
    EXPECT_FALSE(IsWindow(mainHwnd));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(main.Window().IsOpen());
    EXPECT_EQ(About(), nullptr);
}

TEST_F(Win32Forms, ClosingTheMainFrameStopsItsTimerAndRunWaitsForTheDialog) {
    OpenBoth();
    HWND dialog = About();
    PostMessageA(mainHwnd, WM_CLOSE, 0, 0);
    ASSERT_EQ(RunLoop(windows, 1000, [&] { return !IsWindow(mainHwnd); }), Stop::Condition);
    const int ticks = clock.reads;
    EXPECT_EQ(RunLoop(windows, 300), Stop::TimeLimit);
    EXPECT_EQ(clock.reads, ticks);
    EXPECT_FALSE(main.Window().IsOpen());

    PostMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(RunLoop(windows, 2000), Stop::ByItself);
    EXPECT_EQ(About(), nullptr);
}

} // namespace
} // namespace larkmoor

// The program's windows on the real window system of the platform, driven as a user would.
#include "about/about.h"
#include "driver.h"
#include "fakes.h"
#include "mainwindow/mainwindow.h"

#include <gtest/gtest.h>

#include <optional>

namespace larkmoor::gui {
namespace {

using namespace fakes;

constexpr ui::Colour kWhite = ui::Rgb(255, 255, 255);
constexpr ui::Colour kTeal = ui::Rgb(0, 128, 128);

Rect At(int dpi, const ui::ControlDecl& c) {
    const auto px = [dpi](int twips) { return ui::TwipsToPixels(twips, dpi); };
    return {px(c.left), px(c.top), px(c.width), px(c.height)};
}

struct GuiTest : ::testing::Test {
    std::unique_ptr<Driver> driver = MakeDriver();
    ui::WindowSystem& windows = driver->Windows();
    FakePort port;
    FakeClock clock;
    FakeReadiness readiness;
    FakeRegistry registry;
    FakePrograms programs;
    std::optional<FrmAbout> about;
    MnuMenu menu{windows, port, clock, readiness, [this] {
                     if (!about)
                         about.emplace(windows, registry, programs);
                     about->Open();
                 }};

    GuiTest() {
        clock.now = {0, 9, 5, 7, 0};
        menu.Show();
    }
    bool AboutShown() { return about && about->Window(); }
    void OpenAbout() {
        driver->Choose(menu.Window(), "About");
        ASSERT_FALSE(driver->Run(3000, [&] { return AboutShown(); }));
    }
};

TEST_F(GuiTest, EachFormIsDrawnAsDeclaredAndTheMainWindowIsEmptyBeforeTheFirstTick) {
    ui::Window& main = menu.Window();
    for (const char* label : {"lblPort", "lblTime"}) {
        EXPECT_EQ(main.Find(label).Text(), "") << label;
        EXPECT_TRUE(main.Find(label).Visible()) << label;
        EXPECT_EQ(driver->Colours(main, label), std::pair(kWhite, kTeal)) << label;
    }
    OpenAbout();
    const struct {
        ui::Window& window;
        const ui::FormDecl& form;
        Rect client;
    } forms[] = {{main, kMnuMenu, {0, 0, 219, 51}},
                 {*about->Window(), kFrmAbout, {0, 0, 382, 229}}};
    for (const auto& [window, form, client] : forms) {
        EXPECT_EQ(driver->Place(window, ""), client);
        for (const auto& c : form.controls)
            EXPECT_EQ(driver->Place(window, c.name), At(96, c)) << c.name;
    }
    EXPECT_TRUE(driver->HasFocus(*about->Window(), "cmdOK"));

    // On a screen of another DPI the window is laid out again, where the system leaves it to us.
    if (driver->MoveToDpi(main, 144)) {
        EXPECT_EQ(driver->Place(main, ""), (Rect{0, 0, 329, 77}));
        for (const auto& c : kMnuMenu.controls)
            EXPECT_EQ(driver->Place(main, c.name), At(144, c)) << c.name;
    }
}

TEST_F(GuiTest, TheTimerRunsTheWatcherEvery50MsAndThePortLabelSaysWhyAlsoWithTheContactOpen) {
    ui::Control& lblPort = menu.Window().Find("lblPort");
    ui::Control& lblTime = menu.Window().Find("lblTime");
    readiness.latest = {false, "", "ntpd is running"}; // not yet checked
    EXPECT_FALSE(driver->Run(1000));
    EXPECT_EQ(lblTime.Text(), "09:05:07");
    EXPECT_GE(clock.reads, 12); // one reading per pass with the contact open
    EXPECT_LE(clock.reads, 22);
    EXPECT_EQ(lblTime.ToolTip(), "Checking: port note; checking whether it may set the clock. "
                                 "ntpd is running and may move the clock back after a set.");

    // "Not Ready" shown with the contact open, and hidden once its cause goes.
    readiness.latest = {true, "No right."};
    EXPECT_FALSE(
        driver->Run(3000, [&] { return lblPort.Visible() && lblPort.Text() == "Not Ready"; }));
    readiness.latest.missing = "";
    EXPECT_FALSE(driver->Run(3000, [&] { return !lblPort.Visible(); }));
    EXPECT_EQ(lblTime.ToolTip(), "Ready: port note; may set the clock.");

    port.status = std::nullopt;
    for (const char* note : {"No port library in C:\\Larkmoor.\nSee the README.", "Changed."}) {
        port.note = note; // the tooltip follows each new text
        EXPECT_FALSE(driver->Run(3000, [&] { return lblPort.ToolTip() == note; }))
            << lblPort.ToolTip();
    }
    EXPECT_EQ(lblPort.Text(), "No Port");
}

TEST_F(GuiTest, ClosingTheMainWindowStopsTheWatcherAndTheDialogKeepsTheProgramAlive) {
    OpenAbout();
    driver->Act(menu.Window(), "");
    EXPECT_FALSE(driver->Run(300));
    const int reads = clock.reads;
    EXPECT_FALSE(driver->Run(300)); // still running: the dialog is open
    EXPECT_EQ(clock.reads, reads);  // but no pass since the close

    driver->Act(*about->Window(), "");
    EXPECT_TRUE(driver->Run(3000));
}

TEST_F(GuiTest, EnterAndEscapeCloseTheDialogAndEachOpeningAfterAClosingFillsItAgain) {
    for (Key key : {Key::Enter, Key::Escape}) {
        OpenAbout();
        ui::Window& w = *about->Window();
        EXPECT_EQ(w.Caption(), "About Larkmoor");
        EXPECT_EQ(w.Find("lblVersion").Text(), "Version 1.0.0"); // and the fixed texts with it
        EXPECT_EQ(w.Find("lblDisclaimer").Text(), kDisclaimer);
        w.Find("lblTitle").SetText("shown");
        OpenAbout(); // already open: brought to the front, neither built nor filled again
        EXPECT_EQ(about->Window()->Find("lblTitle").Text(), "shown");
        EXPECT_EQ(driver->ShownWindows(), 2);
        driver->Press(key);
        EXPECT_FALSE(driver->Run(3000, [&] { return !AboutShown(); }));
        EXPECT_EQ(driver->ShownWindows(), 1);
    }
}

TEST_F(GuiTest, SystemInfoStartsThePathElseTheFolderElseTellsTheUserAndExitEndsAll) {
    const std::string tool = "C:\\Program Files\\MSINFO32.EXE", folder = "C:\\Tools Folder";
    const std::string folderTool = folder + "\\MSINFO32.EXE";
    // The PATH value, the folder value, what is started, whether the user is told.
    using Case = std::tuple<const char*, const char*, std::vector<std::string>, bool>;
    programs.startable = {tool, folderTool};
    programs.files = {folderTool};
    OpenAbout();
    for (const auto& [path, folderValue, started, message] : {
             Case{tool.c_str(), folder.c_str(), {tool}, false},
             Case{"C:\\gone.exe", folder.c_str(), {"C:\\gone.exe"}, true},
             Case{"", nullptr, {""}, true},
             Case{nullptr, folder.c_str(), {folderTool}, false},
             Case{nullptr, "C:\\Empty Folder", {}, true},
             Case{nullptr, nullptr, {}, true},
         }) {
        registry.keys.clear();
        programs.started.clear();
        programs.lookedUp.clear();
        if (path)
            registry.Put("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", kRegSz, path);
        if (folderValue)
            registry.Put("SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO", kRegSz,
                         folderValue);
        driver->Act(*about->Window(), "cmdSysInfo");
        std::string shown;
        int readsAtOpen = -1;
        EXPECT_FALSE(driver->Run(5000, [&] {
            if (readsAtOpen < 0 && !(shown = driver->MessageText()).empty())
                readsAtOpen = clock.reads;
            if (!message)
                return programs.started == started;
            return readsAtOpen >= 0 && clock.reads >= readsAtOpen + 3 &&
                   driver->MessageText(true) != "";
        })) << shown;
        EXPECT_EQ(programs.started, started);
        EXPECT_EQ(programs.lookedUp.empty(), path || !folderValue); // a path read is started as is
        EXPECT_EQ(shown, message ? "Larkmoor: System Information Is Unavailable At This Time" : "");
    }
    EXPECT_TRUE(AboutShown()); // the dialog stays open either way
    // Exit ends the program with every window gone.
    driver->Choose(menu.Window(), "Files>Exit");
    EXPECT_TRUE(driver->Run(3000));
    EXPECT_EQ(driver->ShownWindows(), 0);
}

// A form that asks for a control it did not declare: the program says so and ends nonzero.
TEST(GuiFault, AnUndeclaredControlIsSaidAndTheProgramEndsNonzero) {
    const auto driver = MakeDriver();
    ui::FormEvents events;
    const auto window = driver->Windows().Create(kMnuMenu, events);
    window->Find("lblNowhere");
    const auto [code, told] = RunPressingOk(*driver);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(told, "Larkmoor: " + ui::UndeclaredControl("mnuMenu", "lblNowhere"));
}

} // namespace
} // namespace larkmoor::gui

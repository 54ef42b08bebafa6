// The Win32 window system with a form made for these tests: events, lifecycle, DPI.
#include "win32_ui_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace larkmoor {
namespace {

using namespace larkmoor::testing;
using ui::ControlKind;
constexpr ui::Colour kSys = ui::kSystemColour;

constexpr ui::ControlDecl kControls[] = {
    // name      kind                 left  top  width height tab text
    {"lblNote", ControlKind::Label, 150, 150, 1500, 300, -1, "note"},
    {"cmdGo", ControlKind::Button, 150, 600, 1200, 375, 1, "&Go", kSys, kSys, true, false,
     ui::kDefault},
    {"cmdStop", ControlKind::Button, 1500, 600, 1200, 375, 0, "Stop", kSys, kSys, true, false,
     ui::kCancel},
};
constexpr ui::MenuDecl kDeeper[] = {{"mnuDeepest", "Deepest"}};
constexpr ui::MenuDecl kTop[] = {{"mnuDeep", "Deep", kDeeper}};
constexpr ui::MenuDecl kMenuBar[] = {{"mnuTop", "Top", kTop}, {"mnuBare", "Bare"}};
constexpr ui::TimerDecl kTimers[] = {{"tmrFast", 20, true}, {"tmrOff", 20, false}};
constexpr ui::FormDecl kForm = {
    "frmTest", "Test", 4500, 2250, ui::Rgb(10, 20, 30), kControls, kMenuBar, kTimers,
};

// Writes down what reaches the form; `react` runs after each event.
struct Recorder : ui::FormEvents {
    std::vector<std::string> events;
    std::function<void()> react;
    void Note(std::string event) {
        events.push_back(std::move(event));
        if (react)
            react();
    }
    void Click(std::string_view name) override { Note("click " + std::string(name)); }
    void Timer(std::string_view name) override { Note("timer " + std::string(name)); }
    void Unload() override { Note("unload"); }
    int Count(const std::string& event) const {
        return static_cast<int>(std::count(events.begin(), events.end(), event));
    }
    std::vector<std::string> Clicks() const {
        std::vector<std::string> clicks;
        std::copy_if(events.begin(), events.end(), std::back_inserter(clicks),
                     [](const std::string& e) { return e.starts_with("click"); });
        return clicks;
    }
};

// A window of the test form on its own window system.
struct Opened {
    Win32WindowSystem system{GetModuleHandleA(nullptr)};
    Recorder events;
    std::unique_ptr<ui::Window> window = system.Create(kForm, events);
    HWND hwnd = Hwnd(*window);
};

TEST(Win32Lifecycle, EveryWayOfClosingUnloadsAtMostOnceAndLeavesASafeHusk) {
    const struct {
        const char* way;
        void (*close)(Opened&);
        int unloads;
    } cases[] = {
        {"Close()", [](Opened& o) { o.window->Close(); }, 1},
        {"frame", [](Opened& o) { SendMessageA(o.hwnd, WM_CLOSE, 0, 0); }, 1},
        {"End()", [](Opened& o) { o.system.End(); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.way);
        Opened o;
        o.window->Show();
        PumpFor(100);
        ASSERT_GT(o.events.Count("timer tmrFast"), 0);
        const std::size_t before = o.events.events.size();

        c.close(o);
        EXPECT_FALSE(IsWindow(o.hwnd));
        EXPECT_FALSE(o.window->IsOpen());
        ui::Control& go = o.window->Find("cmdGo");
        go.SetText("x");
        go.SetVisible(true);
        EXPECT_EQ(go.Text(), "");
        EXPECT_FALSE(go.Visible());
        o.window->Find("undeclared").SetText("x");
        o.window->SetCaption("x");
        EXPECT_EQ(o.window->Caption(), "");
        o.window->Show();
        o.window->Close();
        PumpFor(100); // timers stopped
        EXPECT_EQ(o.system.Run(), 0);

        const std::vector<std::string> after(o.events.events.begin() + before,
                                             o.events.events.end());
        EXPECT_EQ(after, std::vector<std::string>(c.unloads, "unload"));
    }
}

TEST(Win32Lifecycle, EndInsideAHandlerEndsRunAndSilencesEveryForm) {
    Opened o;
    Recorder other;
    auto second = o.system.Create(kForm, other);
    o.events.react = [&] { o.system.End(); };
    o.window->Show();
    second->Show();

    EXPECT_EQ(RunLoop(o.system, 3000), Stop::ByItself);
    EXPECT_EQ(o.events.events, std::vector<std::string>{"timer tmrFast"});
    EXPECT_EQ(other.Count("unload"), 0);
    EXPECT_FALSE(IsWindow(o.hwnd));
    EXPECT_FALSE(second->IsOpen());
    auto late = o.system.Create(kForm, other);
    EXPECT_FALSE(late->IsOpen());
    late->Find("cmdGo").SetText("x");
}

TEST(Win32Lifecycle, ObjectsDestroyedWhileOpenCloseQuietly) {
    Recorder events;
    auto system = std::make_unique<Win32WindowSystem>(GetModuleHandleA(nullptr));
    auto first = system->Create(kForm, events);
    auto second = system->Create(kForm, events);
    const HWND firstHwnd = Hwnd(*first);
    const HWND secondHwnd = Hwnd(*second);

    second.reset(); // the form goes away with its window open
    EXPECT_FALSE(IsWindow(secondHwnd));
    system.reset(); // the window system goes before the window object
    EXPECT_FALSE(IsWindow(firstHwnd));
    EXPECT_FALSE(first->IsOpen());
    first->Find("cmdGo").SetText("x");
    first->Show();
    first->Close();
    first.reset();
    EXPECT_TRUE(events.events.empty());
}

class Win32Events : public ::testing::Test {
  protected:
    Opened o;
};

TEST_F(Win32Events, ClicksKeysAndMenuCommandsReachTheFormByName) {
    o.window->Show();
    HMENU bar = GetMenu(o.hwnd);
    const UINT deepest = GetMenuItemID(GetSubMenu(GetSubMenu(bar, 0), 0), 0);
    const UINT bare = GetMenuItemID(bar, 1);
    HWND stop = Child(*o.window, "cmdStop");
    // The first button in tab order has the focus; Enter on a button that is not the
    // default one, with no own click, presses the default button.
    ASSERT_EQ(GetFocus(), stop);

    const struct {
        const char* what;
        HWND to;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        const char* click;
    } cases[] = {
        {"button", stop, BM_CLICK, 0, 0, "click cmdStop"},
        {"command in a drop-down's drop-down", o.hwnd, WM_COMMAND, deepest, 0, "click mnuDeepest"},
        {"command on the bar", o.hwnd, WM_COMMAND, bare, 0, "click mnuBare"},
        {"Enter", o.hwnd, WM_KEYDOWN, VK_RETURN, 0, "click cmdGo"},
        {"Escape", stop, WM_KEYDOWN, VK_ESCAPE, 0, "click cmdStop"},
        {"Alt and access key", stop, WM_SYSCHAR, 'g', 1 << 29, "click cmdGo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        o.events.events.clear();
        PostMessageA(c.to, c.message, c.wParam, c.lParam);
        RunLoop(o.system, 1000, [&] { return !o.events.Clicks().empty(); });
        EXPECT_EQ(o.events.Clicks(), std::vector<std::string>{c.click});
    }
}

TEST_F(Win32Events, OnlyEnabledTimersTickAndTabFollowsTabIndex) {
    o.window->Show();
    HWND go = Child(*o.window, "cmdGo");
    HWND stop = Child(*o.window, "cmdStop");
    // cmdStop is declared second but comes first in tab order, and starts with the focus.
    EXPECT_EQ(GetNextDlgTabItem(o.hwnd, nullptr, FALSE), stop);
    EXPECT_EQ(GetNextDlgTabItem(o.hwnd, stop, FALSE), go);
    EXPECT_EQ(GetFocus(), stop);
    PostMessageA(stop, WM_KEYDOWN, VK_TAB, 0);
    EXPECT_EQ(RunLoop(o.system, 2000, [&] { return o.events.Count("timer tmrFast") >= 5; }),
              Stop::Condition);
    EXPECT_EQ(GetFocus(), go);
    EXPECT_EQ(o.events.Count("timer tmrOff"), 0);
}

TEST_F(Win32Events, ADpiChangeRescalesClientAreaControlsAndFont) {
    NONCLIENTMETRICSA metrics{};
    metrics.cbSize = sizeof metrics;
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0));
    ASSERT_EQ(dynamic_cast<larkmoor::Win32Window&>(*o.window).Dpi(), 96);
    HWND stop = Child(*o.window, "cmdStop");

    for (int dpi : {96, 144, 120, 96}) {
        SCOPED_TRACE(dpi);
        RECT suggested{};
        GetWindowRect(o.hwnd, &suggested);
        SendMessageA(o.hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                     reinterpret_cast<LPARAM>(&suggested));
        const auto px = [dpi](int twips) { return ui::TwipsToPixels(twips, dpi); };
        EXPECT_EQ(ClientOf(o.hwnd), (Place{0, 0, px(4500), px(2250)}));
        EXPECT_EQ(PlaceOf(stop), (Place{px(1500), px(600), px(1200), px(375)}));
        LOGFONTA font{};
        GetObjectA(reinterpret_cast<HFONT>(SendMessageA(stop, WM_GETFONT, 0, 0)), sizeof font,
                   &font);
        EXPECT_STREQ(font.lfFaceName, metrics.lfMessageFont.lfFaceName);
        EXPECT_EQ(font.lfHeight, MulDiv(metrics.lfMessageFont.lfHeight, dpi, 96));
    }
}

} // namespace
} // namespace larkmoor

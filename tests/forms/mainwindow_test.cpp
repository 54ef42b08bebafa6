#include "fake_ui.h"
#include "mainwindow/mainwindow.h"

#include <gtest/gtest.h>

namespace larkmoor {
namespace {

using namespace fakes;

TEST(MnuMenu, RoutesTicksAndMenuCommandsToItsHandlers) {
    FakeWindowSystem windows;
    FakePort port;
    FakeClock clock;
    int aboutOpened = 0;
    MnuMenu menu(windows, port, clock, [&] { ++aboutOpened; });
    ASSERT_EQ(windows.created.size(), 1u);
    FakeWindow& window = *windows.created[0];
    EXPECT_EQ(&window.form, &kMnuMenu);

    // Nothing is written before the first tick.
    EXPECT_EQ(window.controls["lblTime"].text, "");
    EXPECT_EQ(window.controls["lblPort"].text, "");
    EXPECT_TRUE(window.controls["lblPort"].visible);

    clock.SetNow(14, 7, 12);
    port.status = 127;
    window.events.Timer("Timer1");
    EXPECT_EQ(window.controls["lblTime"].text, "14:07:12");
    EXPECT_FALSE(window.controls["lblPort"].visible);

    window.events.Click("mnuAbout");
    window.events.Click("mnuAbout");
    EXPECT_EQ(aboutOpened, 2);
    EXPECT_FALSE(windows.ended);
    window.events.Click("mnuExit");
    EXPECT_TRUE(windows.ended);
}

} // namespace
} // namespace larkmoor

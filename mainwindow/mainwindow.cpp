#include "mainwindow.h"

#include "version.h"

namespace larkmoor {

namespace {
using ui::ControlKind;
constexpr ui::Colour kTeal = ui::Rgb(0, 128, 128);
constexpr ui::Colour kWhite = ui::Rgb(255, 255, 255);

constexpr ui::ControlDecl kControls[] = {
    // name     kind                left  top  width height tab text fore    back
    {"lblPort", ControlKind::Label, 120, 120, 1455, 255, -1, "", kWhite, kTeal},
    {"lblTime", ControlKind::Label, 1680, 120, 1455, 255, -1, "", kWhite, kTeal},
};

constexpr ui::MenuDecl kFilesMenu[] = {
    {"mnuExit", "Exit"},
};
constexpr ui::MenuDecl kMenuBar[] = {
    {"mnuFiles", "Files", kFilesMenu},
    {"mnuAbout", "About"},
};

constexpr ui::TimerDecl kTimers[] = {
    {"Timer1", 50, true},
};
} // namespace

const ui::FormDecl kMnuMenu = {
    "mnuMenu", kTitle, 3285, 765, kTeal, kControls, kMenuBar, kTimers,
};

MnuMenu::MnuMenu(ui::WindowSystem& windows, Port& port, Clock& clock, Readiness& readiness,
                 std::function<void()> openAbout)
    : windows_(windows), window_(windows.Create(kMnuMenu, *this)),
      watcher_(port, clock, readiness, window_->Find("lblTime"), window_->Find("lblPort")),
      openAbout_(std::move(openAbout)) {}

void MnuMenu::mnuAbout_Click() {
    if (openAbout_)
        openAbout_();
}

void MnuMenu::Click(std::string_view name) {
    if (name == "mnuExit")
        mnuExit_Click();
    else if (name == "mnuAbout")
        mnuAbout_Click();
}

void MnuMenu::Timer(std::string_view name) {
    if (name == "Timer1")
        Timer1_Timer();
}

} // namespace larkmoor

#include "about.h"

#include "version.h"

namespace larkmoor {

namespace {
using ui::ControlKind;
constexpr ui::Colour kBlack = ui::Rgb(0, 0, 0);
constexpr ui::Colour kSystem = ui::kSystemColour;

constexpr ui::ControlDecl kControls[] = {
    // name            kind                  left  top   width height tab text  fore   back
    {"picIcon", ControlKind::Picture, 240, 240, 540, 540, 1, "", kSystem, kSystem},
    {"lblTitle", ControlKind::Label, 1050, 240, 3885, 360, 5, "", kBlack, kSystem, true, true},
    {"lblVersion", ControlKind::Label, 1050, 600, 3885, 225, 6, "", kSystem, kSystem, true, true},
    {"lblDescription", ControlKind::Label, 210, 1080, 5205, 450, 3, "", kBlack, kSystem, true,
     true},
    {"lblDisclaimer", ControlKind::Label, 240, 1560, 5175, 1185, 4, "", kBlack, kSystem, true,
     true},
    {"cmdOK", ControlKind::Button, 2400, 3000, 780, 345, 0, "OK", kSystem, kSystem, true, false,
     ui::kDefault | ui::kCancel},
    {"cmdSysInfo", ControlKind::Button, 3480, 3000, 1245, 345, 2, "&System Info...", kSystem,
     kSystem},
};
} // namespace

const ui::FormDecl kFrmAbout = {
    "frmAbout", "", 5730, 3435, ui::kSystemColour, kControls, {}, {}, ui::Frame::Dialog,
};

std::string VersionText() {
    return "Version " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}

void FrmAbout::Open() {
    if (!Window()) {
        window_ = windows_.Create(kFrmAbout, *this);
        Form_Load();
    }
    window_->Show();
}

void FrmAbout::Form_Load() {
    window_->SetCaption(std::string("About ") + kTitle);
    window_->Find("lblVersion").SetText(VersionText());
    window_->Find("lblTitle").SetText(kTitle);
    window_->Find("lblDescription").SetText(kDescription);
    window_->Find("lblDisclaimer").SetText(kDisclaimer);
}

void FrmAbout::cmdOK_Click() {
    window_->Close();
}

void FrmAbout::cmdSysInfo_Click() {}

void FrmAbout::Click(std::string_view name) {
    if (name == "cmdOK")
        cmdOK_Click();
    else if (name == "cmdSysInfo")
        cmdSysInfo_Click();
}

} // namespace larkmoor

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
// Registry values are read into a buffer of this size; larger ones count as missing.
constexpr std::uint32_t kReadBufferSize = 1024;

// A registry value's data as text: REG_SZ up to its first zero byte, REG_EXPAND_SZ the same with
// environment references expanded, REG_DWORD as "&h" and upper-case hex digits. False for types
// that are not text or number.
bool DecodeRegistryValue(std::uint32_t type, const std::string& data, Registry& registry,
                         std::string& text) {
    switch (type) {
    case kRegSz:
        text = data.substr(0, data.find('\0'));
        return true;
    case kRegExpandSz:
        text = registry.ExpandEnvironment(data.substr(0, data.find('\0')));
        return true;
    case kRegDword: {
        // The bytes are stored least significant first: written last to first, they make the
        // number's hexadecimal numeral. One trailing zero byte is taken for a terminator.
        const std::size_t used =
            !data.empty() && data.back() == '\0' ? data.size() - 1 : data.size();
        static constexpr char kDigits[] = "0123456789ABCDEF";
        text = "&h";
        for (std::size_t i = used; i-- > 0;) {
            const auto byte = static_cast<unsigned char>(data[i]);
            text += kDigits[byte >> 4];
            text += kDigits[byte & 0xF];
        }
        return true;
    }
    default:
        return false;
    }
}

std::string VersionText() {
    return "Version " + std::to_string(kVersionMajor) + "." + std::to_string(kVersionMinor) + "." +
           std::to_string(kVersionRevision);
}
} // namespace

const ui::FormDecl kFrmAbout = {
    "frmAbout", "", 5730, 3435, ui::kSystemColour, kControls, {}, {}, ui::Frame::Dialog,
};

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

void FrmAbout::StartSysInfo() {
    std::string path;
    if (GetKeyValue(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", path)) {
        if (programs_.Start(path))
            return;
    } else if (GetKeyValue(kHkeyLocalMachine, "SOFTWARE\\Microsoft\\Shared Tools Location",
                           "MSINFO", path)) {
        path += "\\MSINFO32.EXE";
        if (programs_.NormalFileExists(path) && programs_.Start(path))
            return;
    }
    windows_.ShowMessage(Window(), kSysInfoUnavailable, kTitle);
}

bool FrmAbout::GetKeyValue(RegistryKey KeyRoot, const std::string& KeyName,
                           const std::string& SubKeyRef, std::string& KeyVal) {
    KeyVal.clear();
    RegistryKey key = 0;
    if (registry_.OpenKey(KeyRoot, KeyName, kKeyRead, key) != kErrorSuccess)
        return false;
    std::uint32_t type = kRegNone;
    std::uint32_t size = kReadBufferSize;
    unsigned char buffer[kReadBufferSize] = {};
    const bool read = registry_.QueryValue(key, SubKeyRef, type, buffer, size) == kErrorSuccess;
    registry_.CloseKey(key);
    if (!read || size > kReadBufferSize)
        return false;
    return DecodeRegistryValue(type, std::string(reinterpret_cast<char*>(buffer), size), registry_,
                               KeyVal);
}

void FrmAbout::Click(std::string_view name) {
    if (name == "cmdOK")
        cmdOK_Click();
    else if (name == "cmdSysInfo")
        cmdSysInfo_Click();
}

} // namespace larkmoor

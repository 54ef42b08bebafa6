// "System Info..." on the real Win32 dialog: the tool is started from the registry's entries,
// or the user is told in a message box.
#include "about/about.h"
#include "platform/win32/window_win32.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace larkmoor {
namespace {

const char* const kPathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const char* const kFolderKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

void SetText(const char* key, const char* name, const std::string& value) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &handle, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(handle);
}

void Remove(const char* key, const char* name) {
    SHDeleteValueA(HKEY_LOCAL_MACHINE, key, name);
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Pumps messages until `done` or about ten seconds have passed (a new process under Wine is slow).
template <typename Predicate> bool PumpUntil(Predicate done) {
    for (int i = 0; i < 1000 && !done(); ++i) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class SysInfoButtonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "Larkmoor Tools " + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
        tool_ = folder_ + "\\MSINFO32.EXE";
        ASSERT_TRUE(CopyFileA(MARKER_PROGRAM, tool_.c_str(), FALSE));
        Remove(kPathKey, "PATH");
        Remove(kFolderKey, "MSINFO");
    }
    void TearDown() override {
        Remove(kPathKey, "PATH");
        Remove(kFolderKey, "MSINFO");
        DeleteFileA((tool_ + ".ran").c_str());
        DeleteFileA(tool_.c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    // Opens the dialog and clicks its "System Info..." button as a user would.
    void ClickSysInfo() {
        about_.Open();
        auto* window = dynamic_cast<Win32Window*>(about_.Window());
        ASSERT_NE(window, nullptr);
        SendMessageA(window->ControlHandle("cmdSysInfo"), BM_CLICK, 0, 0);
    }
    bool ToolRan() {
        return PumpUntil([&] { return !ReadFile(tool_ + ".ran").empty(); });
    }

    std::string folder_, tool_;
    Win32WindowSystem windows_{GetModuleHandleA(nullptr)};
    std::unique_ptr<Registry> registry_ = MakeSystemRegistry();
    std::unique_ptr<Programs> programs_ = MakeSystemPrograms();
    FrmAbout about_{windows_, *registry_, *programs_};
};

TEST_F(SysInfoButtonTest, StartsTheToolOfThePathEntryAsOneFileEvenWithSpaces) {
    SetText(kPathKey, "PATH", tool_);
    ClickSysInfo();
    ASSERT_TRUE(ToolRan());
    EXPECT_EQ(ReadFile(tool_ + ".ran"), "\"" + tool_ + "\"");
    EXPECT_NE(about_.Window(), nullptr); // the dialog stays open
}

TEST_F(SysInfoButtonTest, StartsTheToolInTheFolderOfTheLocationEntry) {
    SetText(kFolderKey, "MSINFO", folder_);
    ClickSysInfo();
    EXPECT_TRUE(ToolRan());
}

// Runs inside the message box's own message loop: reads the box, then presses its OK.
std::string boxText;
void CALLBACK AnswerMessageBox(HWND, UINT, UINT_PTR timer, DWORD) {
    if (HWND box = FindWindowA("#32770", "Larkmoor")) {
        char buffer[256] = {};
        GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer);
        boxText = buffer;
        KillTimer(nullptr, timer);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
}

TEST_F(SysInfoButtonTest, WithoutEntriesTheUserIsToldInAMessageBox) {
    SetTimer(nullptr, 0, 10, AnswerMessageBox);
    ClickSysInfo();
    EXPECT_EQ(boxText, "System Information Is Unavailable At This Time");
    EXPECT_NE(about_.Window(), nullptr);
}

} // namespace
} // namespace larkmoor

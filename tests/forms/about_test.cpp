#include "about/about.h"
#include "fake_ui.h"

#include <gtest/gtest.h>

namespace larkmoor {
namespace {

using namespace fakes;

const std::string kPathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const std::string kFolderKey = "SOFTWARE\\Microsoft\\Shared Tools Location";

struct AboutTest : ::testing::Test {
    FakeWindowSystem windows;
    FakeRegistry registry;
    FakePrograms programs;
    FrmAbout about{windows, registry, programs};
};

TEST_F(AboutTest, GetKeyValueTurnsEachKindOfValueIntoText) {
    using namespace std::string_literals;
    // Type, data, result, text.
    using Case = std::tuple<std::uint32_t, std::string, bool, std::string>;
    for (const auto& [type, data, result, text] : {
             Case{kRegSz, "C:\\a b\\x.exe\0"s, true, "C:\\a b\\x.exe"},
             Case{kRegSz, "C:\\a b\\x.exe", true, "C:\\a b\\x.exe"},
             Case{kRegSz, "C:\\x\0\0\0\0"s, true, "C:\\x"},
             Case{kRegSz, "", true, ""},
             Case{kRegExpandSz, "%SystemRoot%\\x.exe\0"s, true, "C:\\Windows\\x.exe"},
             Case{kRegDword, "\x78\x56\x34\x12", true, "&h12345678"},
             Case{kRegDword, "\x05\x01\x00\x00"s, true, "&h000105"},
             Case{kRegBinary, "abc", false, ""},
             Case{kRegSz, std::string(1024, 'y'), true, std::string(1024, 'y')},
             Case{kRegSz, std::string(1025, 'y'), false, ""},
         }) {
        registry.Put("K", "V", type, data);
        std::string read = "stale";
        EXPECT_EQ(about.GetKeyValue(kHkeyLocalMachine, "K", "V", read), result) << data;
        EXPECT_EQ(read, text) << data;
    }
    std::string read = "stale";
    EXPECT_FALSE(about.GetKeyValue(kHkeyLocalMachine, "K", "missing", read));
    EXPECT_EQ(read, "");
    EXPECT_FALSE(about.GetKeyValue(kHkeyLocalMachine, "missing", "V", read));
}

TEST_F(AboutTest, AboutTwiceKeepsOneDialogAndEachLoadFillsItsTexts) {
    about.Open();
    about.Open(); // already open: brought to the front, not built again
    ASSERT_EQ(windows.created.size(), 1u);
    EXPECT_EQ(windows.created[0]->shows, 2);
    about.cmdOK_Click();
    EXPECT_FALSE(windows.created[0]->IsOpen());
    about.Open();
    ASSERT_EQ(windows.created.size(), 2u);
    FakeWindow& w = *windows.created[1];
    EXPECT_EQ(w.caption, "About Larkmoor");
    for (const auto& [label, text] : {std::pair{"lblTitle", "Larkmoor"},
                                      {"lblVersion", "Version 1.0.0"},
                                      {"lblDescription", "Larkmoor by Brisden June 9, 2005"},
                                      {"lblDisclaimer", kDisclaimer}})
        EXPECT_EQ(w.controls[label].text, text) << label;
}

TEST(StartSysInfo, TriesThePathThenTheFolderElseTellsTheUser) {
    const std::string tool = "C:\\Program Files\\MSINFO32.EXE", folder = "C:\\Tools Folder";
    const std::string folderTool = folder + "\\MSINFO32.EXE";
    // The PATH value, the folder value ("-": none), whether the tool is in the folder, what is
    // started, whether the user is told.
    using Case = std::tuple<const char*, std::string, bool, std::vector<std::string>, bool>;
    for (const auto& [path, folderValue, fileThere, started, message] : {
             Case{tool.c_str(), folder, true, {tool}, false},
             Case{"C:\\gone.exe", folder, true, {"C:\\gone.exe"}, true},
             Case{"", "-", false, {""}, true},
             Case{nullptr, folder, true, {folderTool}, false},
             Case{nullptr, folder, false, {}, true},
             Case{nullptr, "-", false, {}, true},
         }) {
        SCOPED_TRACE(started.empty() ? folderValue : started[0]);
        FakeWindowSystem w;
        FakeRegistry r;
        FakePrograms p;
        FrmAbout dialog(w, r, p);
        if (path)
            r.Put(kPathKey, "PATH", kRegSz, path + std::string(1, '\0'));
        if (folderValue != "-")
            r.Put(kFolderKey, "MSINFO", kRegSz, folderValue);
        if (fileThere)
            p.files = {folderTool};
        p.startable = {tool, folderTool};
        dialog.Open();
        dialog.cmdSysInfo_Click();
        EXPECT_EQ(p.started, started);
        EXPECT_EQ(p.lookedUp.empty(), path || folderValue == "-"); // a path read is started as is
        ASSERT_EQ(w.messages.size(), message ? 1u : 0u);
        if (message) {
            EXPECT_EQ(w.messages[0].text, "System Information Is Unavailable At This Time");
            EXPECT_EQ(w.messages[0].caption, "Larkmoor");
            EXPECT_EQ(w.messages[0].owner, w.created[0]);
        }
        EXPECT_TRUE(w.created[0]->IsOpen()); // the dialog stays open either way
    }
}

} // namespace
} // namespace larkmoor

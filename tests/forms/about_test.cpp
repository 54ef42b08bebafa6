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
    struct Case {
        const char* what;
        std::uint32_t type;
        std::string data;
        bool result;
        std::string text;
    };
    const std::string big(1025, 'x');
    const Case cases[] = {
        {"text with terminator", kRegSz, std::string("C:\\a b\\x.exe\0", 13), true,
         "C:\\a b\\x.exe"},
        {"text without terminator", kRegSz, "C:\\a b\\x.exe", true, "C:\\a b\\x.exe"},
        {"text padded with zeros", kRegSz, std::string("C:\\x\0\0\0\0", 8), true, "C:\\x"},
        {"empty value", kRegSz, "", true, ""},
        {"expandable text", kRegExpandSz, std::string("%SystemRoot%\\x.exe\0", 19), true,
         "C:\\Windows\\x.exe"},
        {"number", kRegDword, std::string("\x78\x56\x34\x12", 4), true, "&h12345678"},
        {"number with zero high byte", kRegDword, std::string("\x05\x01\x00\x00", 4), true,
         "&h000105"},
        {"binary", kRegBinary, "abc", false, ""},
        {"no type", kRegNone, "abc", false, ""},
        {"1024 bytes fit", kRegSz, std::string(1024, 'y'), true, std::string(1024, 'y')},
        {"over 1024 bytes", kRegSz, big, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        registry.Put("K", "V", c.type, c.data);
        std::string text = "stale";
        EXPECT_EQ(about.GetKeyValue(kHkeyLocalMachine, "K", "V", text), c.result);
        EXPECT_EQ(text, c.text);
    }
    std::string text = "stale";
    EXPECT_FALSE(about.GetKeyValue(kHkeyLocalMachine, "K", "missing", text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(about.GetKeyValue(kHkeyLocalMachine, "missing", "V", text));
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

TEST_F(AboutTest, StartSysInfoTriesThePathThenTheFolderElseTellsTheUser) {
    const std::string tool = "C:\\Program Files\\Common Files\\MSINFO32.EXE";
    const std::string folderTool = "C:\\Tools Folder\\MSINFO32.EXE";
    struct Case {
        const char* what;
        std::optional<std::string> pathValue;
        std::optional<std::string> folderValue;
        bool fileThere;
        std::vector<std::string> started;
        bool message;
    };
    const Case cases[] = {
        {"path present", tool, "C:\\Tools Folder", true, {tool}, false},
        {"path present but not startable",
         "C:\\gone.exe",
         "C:\\Tools Folder",
         true,
         {"C:\\gone.exe"},
         true},
        {"path empty", "", std::nullopt, false, {""}, true},
        {"folder with the tool", std::nullopt, "C:\\Tools Folder", true, {folderTool}, false},
        {"folder without the tool", std::nullopt, "C:\\Tools Folder", false, {}, true},
        {"neither", std::nullopt, std::nullopt, false, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeWindowSystem w;
        FakeRegistry r;
        FakePrograms p;
        FrmAbout dialog(w, r, p);
        if (c.pathValue)
            r.Put(kPathKey, "PATH", kRegSz, *c.pathValue + '\0');
        if (c.folderValue)
            r.Put(kFolderKey, "MSINFO", kRegSz, *c.folderValue + '\0');
        if (c.fileThere)
            p.files = {folderTool};
        p.startable = {tool, folderTool};
        dialog.Open();
        dialog.cmdSysInfo_Click();
        EXPECT_EQ(p.started, c.started);
        ASSERT_EQ(w.messages.size(), c.message ? 1u : 0u);
        if (c.message) {
            EXPECT_EQ(w.messages[0].text, "System Information Is Unavailable At This Time");
            EXPECT_EQ(w.messages[0].caption, "Larkmoor");
            EXPECT_EQ(w.messages[0].owner, w.created[0]);
        }
        EXPECT_TRUE(w.created[0]->IsOpen()); // the dialog stays open either way
        if (c.pathValue) {                   // a found path is started without a file lookup
            EXPECT_TRUE(p.lookedUp.empty());
        }
    }
}

} // namespace
} // namespace larkmoor

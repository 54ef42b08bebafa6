#include "about/about.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace larkmoor {
namespace {

TEST(GetKeyValue, TurnsEachKindOfValueIntoText) {
    using namespace std::string_literals;
    fakes::FakeWindowSystem windows;
    fakes::FakeRegistry registry;
    fakes::FakePrograms programs;
    FrmAbout about{windows, registry, programs};
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

} // namespace
} // namespace larkmoor

// The Windows clock and port under Wine, built at -O2 and run in a time zone half an hour off
// UTC: the local reading, port libraries found by full path (test libraries of several kinds),
// the status register chosen, and the reasons the watcher shows in the port label's tooltip.
#include "fakes.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/port_win32.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <fstream>

namespace larkmoor {
namespace {

using Ports = std::optional<std::vector<ParallelPort>>;
const Ports kNoPorts = std::vector<ParallelPort>{};

TEST(Win32Clock, AReadingAgreesWithTheLocalTimeOfWindows) {
    auto clock = MakeSystemClock();
    SYSTEMTIME before{};
    GetLocalTime(&before);
    const ClockReading reading = clock->Now();
    EXPECT_EQ(reading.hour, before.wHour);
    EXPECT_NEAR(reading.minute * 60 + reading.second, before.wMinute * 60 + before.wSecond, 1);
    EXPECT_EQ(reading.nanosecond, reading.utcNs % 1'000'000'000);
    EXPECT_EQ(FileTimeToUnixNs(UnixNsToFileTime(1'773'183'599'900'000'000)),
              1'773'183'599'900'000'000);
}

TEST(StatusRegister, TheFirstListedPortIsReadUnlessOneIsAt0x378) {
    const std::vector<std::pair<Ports, StatusRegister>> cases = {
        {std::nullopt, {0x379, "Windows could not list the parallel ports"}},
        {kNoPorts, {0x379, "Windows lists no parallel port"}},
        {Ports{{{"LPT2", 0xD010}, {"LPT1", 0x378}}}, {0x379, "LPT1 at 0x378"}},
        {Ports{{{"LPT2", 0xD010}, {"LPT1", 0xE000}}}, {0xE001, "LPT1 at 0xE000"}},
        {Ports{{{"LPT10", 0xB000}, {"LPT3", 0xD010}, {"LPT2", 0xC000}}},
         {0xC001, "LPT2 at 0xC000"}},
    };
    for (const auto& [ports, expected] : cases) {
        const StatusRegister chosen = ChooseStatusRegister(ports);
        EXPECT_EQ(chosen.address, expected.address) << expected.which;
        EXPECT_EQ(chosen.which, expected.which);
    }
}

class ListedPorts : public ParallelPorts {
  public:
    explicit ListedPorts(Ports ports) : ports_(std::move(ports)) {}
    Ports List() override { return ports_; }

  private:
    Ports ports_;
};

class PortLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        folder_ = std::string(temp) + "Larkmoor Port " + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder_.c_str(), nullptr);
    }
    void TearDown() override {
        port_.reset(); // frees the library, so that its file can go
        for (const std::string& file : files_)
            DeleteFileA(file.c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    // Puts the test library `kind` (no kind: a text file) into `folder` as `file`.
    void Place(const std::string& folder, const char* kind, const char* file) {
        files_.push_back(folder + "\\" + file);
        if (!kind)
            std::ofstream(files_.back()) << "not a library";
        else
            ASSERT_TRUE(CopyFileA((std::string(TEST_LIBRARIES) + "\\" + kind + ".dll").c_str(),
                                  files_.back().c_str(), FALSE));
    }
    void Open(std::vector<std::string> folders, Ports ports = kNoPorts) {
        port_ = MakeLibraryPort(std::move(folders), std::make_unique<ListedPorts>(ports),
                                [this] { return now_; });
    }

    std::string folder_;
    std::vector<std::string> files_;
    std::uint32_t now_ = 0xFFFFF000; // four seconds before the tick count wraps around
    std::unique_ptr<Port> port_;
};

TEST_F(PortLibraryTest, TheFirstUsableLibraryIsReadOrTheNoteSaysWhyNone) {
    struct Case {
        std::vector<std::pair<const char*, const char*>> files; // kind, placed as
        Ports ports;
        std::optional<int> status;
        std::string note; // part of the note, @ standing for the folder
    };
    const Case cases[] = {
        {{}, {}, {}, "No port library: neither ntport.dll nor inpout32.dll is in @."},
        {{{"closed", "inpout32.dll"}}, {}, {}, "The port driver of @\\inpout32.dll is not open."},
        {{{nullptr, "ntport.dll"}}, {}, {}, "@\\ntport.dll could not be loaded: "},
        {{{"ntport", "inpout32.dll"}}, {}, {}, "@\\inpout32.dll has no routine Inp32."},
        {{{"inpout32", "inpout32.dll"}, {"ntport", "ntport.dll"}}, {}, 0x71, "@\\ntport.dll."},
        {{{"cdecl", "inpout32.dll"}},
         {},
         0x71,
         "0x379 (Windows could not list the parallel ports) through @"},
        {{{"inpout32", "inpout32.dll"}},
         Ports{{{"LPT1", 0xD010}}},
         0x11,
         "0xD011 (LPT1 at 0xD010) through @"},
    };
    for (const Case& c : cases) {
        for (const auto& [kind, file] : c.files)
            Place(folder_, kind, file);
        Open({folder_}, c.ports);
        for (int i = 0; i < 1000; ++i) // a stack that a call leaves wrong fails by here
            ASSERT_EQ(port_->Inp(kStatusPort).status, c.status) << c.note;
        std::string note = c.note;
        note.replace(note.find('@'), 1, folder_);
        EXPECT_NE(port_->Inp(kStatusPort).note.find(note), std::string::npos)
            << port_->Inp(kStatusPort).note;
        TearDown();
        files_.clear();
        CreateDirectoryA(folder_.c_str(), nullptr);
    }
}

TEST_F(PortLibraryTest, ALibraryPlacedBesideTheProgramLaterIsUsedTheCurrentDirectoryNever) {
    Place(folder_, "inpout32", "inpout32.dll");
    SetCurrentDirectoryA(folder_.c_str());
    const std::vector<std::string> folders = PortLibraryFolders();
    Open(folders, std::nullopt);
    EXPECT_EQ(port_->Inp(kStatusPort).note, "No port library: neither ntport.dll nor inpout32.dll "
                                            "is in " +
                                                folders[0] + " or " + folders[1] + ".");
    Place(folders[0], "inpout32", "inpout32.dll");
    now_ += 4999;
    EXPECT_FALSE(port_->Inp(kStatusPort).status); // looked for every 5 s, not on every read
    now_ += 1;
    EXPECT_EQ(port_->Inp(kStatusPort).status, 0x71);
    EXPECT_EQ(port_->Inp(kStatusPort).note, "Reading 0x379 (Windows could not list the parallel "
                                            "ports) through " +
                                                folders[0] + "\\inpout32.dll.");
}

// The real clock, counting the sets asked of it.
class CountingClock : public Clock {
  public:
    ClockReading Now() override { return real_->Now(); }
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view text) override {
        ++sets;
        return real_->SetTimeOfDay(basis, text);
    }
    int sets = 0;

  private:
    std::unique_ptr<Clock> real_ = MakeSystemClock();
};

TEST_F(PortLibraryTest, TheWatcherSaysWhyInThePortLabelsToolTip) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    if (!GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") || now.wMinute == 54)
        GTEST_SKIP() << "only under Wine, which refuses to move the clock more than half a second";
    const std::vector<std::tuple<const char*, const char*, int, std::string>> cases = {
        {"closed", "No Port", 0, "is not open.\nSee \"The port library and its driver\""},
        {"inpout32", "Time Not Set", 1,
         "(error 1314).\nSee \"Setting the clock without a prompt\" in the README."},
    };
    for (const auto& [kind, text, sets, toolTip] : cases) {
        Place(folder_, kind, "inpout32.dll");
        Open({folder_});
        CountingClock clock;
        fakes::FakeControl lblTime, lblPort;
        ClosureWatcher(*port_, clock, lblTime, lblPort).Timer1_Timer();
        EXPECT_EQ(lblPort.text, text);
        EXPECT_EQ(clock.sets, sets);
        EXPECT_NE(lblPort.toolTip.find(toolTip), std::string::npos) << lblPort.toolTip;
        TearDown();
        files_.clear();
        CreateDirectoryA(folder_.c_str(), nullptr);
    }
}

} // namespace
} // namespace larkmoor

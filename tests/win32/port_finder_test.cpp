// Finding the parallel port: the register chosen from Windows' list, the list taken again on a
// thread of its own, WMI's rows waited for within limits, and Wine's own list.
#include "helpers.h"
#include "platform/win32/port_discovery_win32.h"

#include <wbemidl.h>

namespace larkmoor {
namespace {

using Ports = std::optional<std::vector<ParallelPort>>;
const Ports kNone = std::vector<ParallelPort>{}; // Windows lists no parallel port

TEST(PortFinder, TheStatusRegisterOfThePortAt0x378ElseOfTheLowestNumberedOneWithItsRange) {
    // The ports Windows lists (nothing: it could not), the register chosen, and which port it is.
    const std::tuple<Ports, std::optional<int>, const char*> cases[] = {
        {{}, {}, "Windows could not list the parallel ports: looking again."},
        {kNone, 0x379, "Windows lists no parallel port"},
        {Ports{{{"LPT2", 0x378}, {"LPT1", {}}}}, 0x379, "LPT2 at 0x378"},
        {Ports{{{"LPT2", 0xE000}, {"LPT1", {}}}}, {}, "Windows lists LPT1 but could not give"},
        {Ports{{{"LPT1", 0xD010}, {"LPT2", 0x378}}}, 0x379, "LPT2 at 0x378"},
        {Ports{{{"LPT2", 0x100}, {"LPT1", 0xE000}}}, 0xE001, "LPT1 at 0xE000"},
        {Ports{{{"LPT10", 0x3BC}, {"LPT2", 0x100}, {"LPT3", 0x278}}}, 0x101, "LPT2 at 0x100"},
    };
    for (const auto& [ports, address, which] : cases) {
        const StatusRegister chosen = ChooseStatusRegister(ports);
        EXPECT_EQ(chosen.address, address) << which;
        EXPECT_TRUE(chosen.which.starts_with(which)) << chosen.which;
    }
    // Of a port's I/O ranges, the lower of an ECP pair, else the one 8 addresses long.
    const std::pair<std::vector<IoRange>, std::optional<int>> bases[] = {
        {{{0x778, 0x77A}, {0x378, 0x37F}}, 0x378},
        {{{0xD000, 0xD003}, {0xD010, 0xD017}}, 0xD010},
        {{{0xE000, 0xE003}}, 0xE000},
        {{}, std::nullopt},
    };
    for (const auto& [ranges, base] : bases)
        EXPECT_EQ(StandardRegisters(ranges), base) << ranges.size() << " ranges";
}

// Lists as told, in turn, noting what was chosen before each list and whether the thread has COM.
struct Scripted : ParallelPorts {
    std::vector<Ports> lists;
    std::atomic<const ChosenRegister*> chosen = nullptr;
    std::vector<std::string> seen;
    bool com = true;
    Ports List() override {
        while (!chosen) // until the test holds what is chosen
            Sleep(1);
        const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(again))
            CoUninitialize();
        com = com && again == S_FALSE; // S_OK: this thread had no COM of its own
        if (seen.size() < lists.size())
            seen.push_back((*chosen.load())().value_or(StatusRegister{}).which.substr(0, 22));
        return lists[std::min(seen.size(), lists.size()) - 1];
    }
};

TEST(PortFinder, ListedAgainUntilAPortMayBeReadThenEveryPeriodAndAFailureKeepsTheLastGoodOne) {
    auto owned = std::make_unique<Scripted>();
    Scripted& lister = *owned;
    const Ports noRange{{{"LPT1", std::nullopt}}};
    lister.lists = {Ports{}, noRange, Ports{{{"LPT1", 0xE000}}}, Ports{}, noRange, kNone, kNone};
    const ChosenRegister chosen = FindPortInBackground(std::move(owned), 10, 30);
    lister.chosen = &chosen;
    Within(5000, [&] { return lister.seen.size() == lister.lists.size(); });
    EXPECT_TRUE(lister.com);
    EXPECT_EQ(lister.seen,
              (std::vector<std::string>{"", "Windows could not list", "Windows lists LPT1 but",
                                        "LPT1 at 0xE000", "LPT1 at 0xE000", "LPT1 at 0xE000",
                                        "Windows lists no paral"}));
    // Looked for again soon while no port may be read, then listed again only after a long while.
    auto once = std::make_unique<Scripted>();
    Scripted& slow = *once;
    slow.lists = {Ports{}, Ports{{{"LPT1", 0xE000}}}, kNone};
    const ChosenRegister found = FindPortInBackground(std::move(once), 10, 60000);
    slow.chosen = &found;
    Within(5000, [&] { return slow.seen.size() == 2; });
    Sleep(200);
    EXPECT_EQ(slow.seen.size(), 2u);
    const ChosenRegister system = FindPortInBackground(MakeSystemParallelPorts()); // Wine's
    EXPECT_TRUE(Within(10000, [&] { return system().has_value(); }));
}

TEST(PortFinder, WmiIsWaitedForWithinLimitsAndOnlyACompleteListCounts) {
    const IoRange first{0xD000, 0xD003}, last{0xD010, 0xD017};
    using Rows = std::vector<std::pair<HRESULT, std::optional<IoRange>>>;
    const std::pair<Rows, std::optional<std::vector<IoRange>>> cases[] = {
        {{{WBEM_S_FALSE, {}}}, std::vector<IoRange>{}},
        {{{WBEM_S_NO_ERROR, first}, {WBEM_S_FALSE, last}}, std::vector{first, last}},
        {{{WBEM_S_NO_ERROR, first}, {WBEM_S_TIMEDOUT, {}}}, {}},
        {{{static_cast<HRESULT>(WBEM_E_FAILED), {}}}, {}},
    };
    for (const auto& [rows, ranges] : cases) {
        std::size_t at = 0;
        long waited = -1;
        const auto got = WmiRanges([&](long waitMs, std::optional<IoRange>& range) {
            waited = waitMs;
            range = rows[at].second;
            return rows[at++].first;
        });
        SCOPED_TRACE(testing::Message() << rows.size() << " rows, the last " << rows.back().first);
        EXPECT_EQ(got ? got->size() : -1, ranges ? ranges->size() : -1);
        EXPECT_TRUE(waited >= 0 && waited <= 10'000) << waited;
    }
    EXPECT_EQ(WmiPortResourceQuery("PCI\\VEN_1C00&DEV_3050\\4&2\"X"),
              "ASSOCIATORS OF {Win32_PnPEntity.DeviceID=\"PCI\\\\VEN_1C00&DEV_3050\\\\4&2\\\"X\"} "
              "WHERE ResultClass = Win32_PortResource");
}

} // namespace
} // namespace larkmoor

// The Linux machine: the first parallel port over a fake /proc and /dev, the clock and its
// helper (never able to set this machine's clock), and programs started from a path.
#include "fakes.h"
#include "platform/linux/clock_linux.h"
#include "platform/linux/port_linux.h"
#include "platform/linux/programs_linux.h"
#include "platform/linux/set_clock.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <optional>
#include <set>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

namespace larkmoor {
namespace fs = std::filesystem;

// A fresh folder for one test, removed with everything in it at the end.
struct TempDir {
    fs::path path = fs::temp_directory_path() / ("larkmoor-test-" + std::to_string(getpid()));
    ~TempDir() { fs::remove_all(path); }
    // Writes the file `name` below the folder, making its folders; returns its path.
    std::string Put(const std::string& name, const std::string& text, bool program = false) const {
        fs::create_directories((path / name).parent_path());
        std::ofstream(path / name, std::ios::binary) << text;
        fs::permissions(path / name, fs::perms(program ? 0700 : 0600));
        return (path / name).string();
    }
};

// A ppdev device over the fake /dev: a claim opens the file; reads answer `status` or fail as
// told; every call waits while `stuck` is set, as one held up in the kernel does.
struct FakePpdev : PpdevIo {
    std::atomic<int> claims = 0, claimError = 0, readError = 0, closes = 0, status = 0x7F;
    std::atomic<bool> stuck = false;
    void Wait() const {
        for (; stuck; usleep(1000)) {
        }
    }
    int OpenAndClaim(const std::string& device) override {
        Wait(), ++claims;
        const int fd = claimError ? (errno = claimError, -1) : open(device.c_str(), O_RDONLY);
        return fd < 0 ? -errno : fd;
    }
    int ReadStatus(int, std::uint8_t& s) override { return Wait(), s = status, readError; }
    void Close(int fd) override { ++closes, close(fd); }
};

// A fake /proc and /dev, a fake ppdev device and a steady clock that moves only when told, all
// watched by the real watcher with a fake system clock.
struct PortTree {
    TempDir dir;
    std::shared_ptr<FakePpdev> io = std::make_shared<FakePpdev>();
    std::atomic<std::chrono::steady_clock::time_point> now{};
    fakes::FakeClock clock;
    fakes::FakeControl lblTime, lblPort;
    std::unique_ptr<Port> port;
    std::optional<ClosureWatcher> watcher;
    // Builds the port, whose thread looks at the tree at once, and its watcher: called once the
    // tree holds what that first look is to find.
    void Start() {
        port = MakeFirstParallelPort(
            {dir.path / "proc", dir.path / "dev", io, [this] { return now.load(); }});
        watcher.emplace(*port, clock, lblTime, lblPort);
    }
    void AddPort(const std::string& name, const char* base) {
        dir.Put("proc/sys/dev/parport/" + name + "/base-addr", std::string(base) + "\t1656\n");
        dir.Put("dev/" + name, "");
    }
    void Later(int seconds) { now = now.load() + std::chrono::seconds(seconds); }
    // Watcher passes every 5 ms until the port label's tooltip holds `note` (empty: until the
    // label is hidden), for at most 3 s; true when it did.
    bool Until(const std::string& note) {
        for (int i = 0; i < 600; ++i, usleep(5000)) {
            watcher->Timer1_Timer();
            if (note.empty() ? !lblPort.visible : lblPort.toolTip.find(note) != std::string::npos)
                return true;
        }
        return false;
    }
};

TEST(FirstParallelPort, LeftAloneInUseLetGoWhenGoneOrFailingPickedUpAgainTicksNeverWait) {
    PortTree tree;
    // With none at 0x378, the lowest number listed (a listing of its own).
    tree.dir.Put("other/sys/dev/parport/parport10/base-addr", "632");
    tree.dir.Put("other/sys/dev/parport/parport2/base-addr", "53264");
    EXPECT_EQ(FindFirstPort(tree.dir.path / "other", "/dev").name, "parport2 at 0xd010");
    tree.AddPort("parport0", "632");
    tree.AddPort("parport1", "888"); // the one at 0x378 first
    tree.dir.Put("proc/sys/dev/parport/parport1/devices/active", "lp0\n");
    tree.Start();
    EXPECT_TRUE(tree.Until("in use by lp0"));
    tree.dir.Put("proc/sys/dev/parport/parport1/devices/active", "none\n");
    tree.io->claimError = EACCES;
    tree.Later(5);
    EXPECT_TRUE(tree.Until("Add this user to the group lp"));
    tree.io->claimError = 0;
    tree.Later(5);
    EXPECT_TRUE(tree.Until(""));
    // Removed: the kernel deletes the device, then the held descriptor reads 0 (closed); the
    // port stays listed, without its address, while anyone holds it.
    fs::remove(tree.dir.path / "dev/parport1");
    tree.io->status = 0;
    EXPECT_TRUE(tree.Until("The kernel has removed parport1 at 0x378")) << tree.lblPort.toolTip;
    fs::remove(tree.dir.path / "proc/sys/dev/parport/parport1/base-addr");
    // Back as parport2: read again, and one set for one closure.
    tree.AddPort("parport2", "888");
    tree.io->status = 0x7F;
    tree.Later(5);
    EXPECT_TRUE(tree.Until(""));
    tree.io->status = 0x77;
    EXPECT_TRUE(tree.Until("Clock set from"));
    tree.io->status = 0x7F;
    // Held up in the kernel, reading or claiming: passes return at once, then "No Port" says
    // what the port's thread waits for. A failed read lets go of the descriptor.
    for (const char* waitingFor :
         {"Waiting for the kernel to read", "(parport2 at 0x378): another"}) {
        tree.io->stuck = true;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 20; ++i)
            tree.watcher->Timer1_Timer();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
        tree.Later(1);
        EXPECT_TRUE(tree.Until(waitingFor)) << tree.lblPort.toolTip;
        EXPECT_EQ(tree.lblPort.text, "No Port");
        tree.io->stuck = false;
        tree.io->readError = EIO; // let go, then stuck in the next claim
        EXPECT_TRUE(tree.Until("cannot be read"));
        tree.io->readError = 0;
        tree.io->stuck = true;
        tree.Later(5);
    }
    tree.io->stuck = false;
    EXPECT_TRUE(tree.Until(""));
    EXPECT_EQ(std::tuple(tree.io->claims.load(), tree.io->closes.load(), tree.clock.sets.size()),
              std::tuple(5, 3, 1u));
}

// Takes CAP_SYS_TIME from this process and all it starts, for good; true when it is gone
// from every set.
bool DropTimeCapability() {
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    const unsigned mask = CAP_TO_MASK(CAP_SYS_TIME);
    auto& d = data[CAP_TO_INDEX(CAP_SYS_TIME)];
    syscall(SYS_capget, &header, data); // a failure here fails the check below
    d.effective &= ~mask, d.permitted &= ~mask, d.inheritable &= ~mask;
    syscall(SYS_capset, &header, data);
    return syscall(SYS_capget, &header, data) == 0 &&
           ((d.effective | d.permitted | d.inheritable) & mask) == 0 &&
           prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0) == 0 &&
           prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_SYS_TIME, 0, 0) == 0;
}

// No test may set this machine's clock: this process, and every program it starts, loses
// CAP_SYS_TIME before any test runs, or the tests do not run at all.
struct WithoutTimeCapability : ::testing::Environment {
    void SetUp() override {
        if (!DropTimeCapability())
            std::abort();
    }
};
const auto* const kWithoutTimeCapability =
    ::testing::AddGlobalTestEnvironment(new WithoutTimeCapability);

bool Has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// A set as the watcher makes it: started, then its outcome asked for every 5 ms, for at most 10 s.
ClockSet SetAndWait(Clock& clock) {
    ClockSet set = clock.SetTimeOfDay({}, "14:54:30");
    for (int i = 0; set.pending && i < 2000; ++i, usleep(5000))
        set = clock.Outcome().value_or(set);
    return set;
}

TEST(ClockHelper, NamesEachSetInTheLogBeforeMakingItAndItsOutcomeAfterUnderAnyLimitOrSignal) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: a mount namespace";
    TempDir dir;
    const std::string record = (dir.path / "record").string();
    // The helper as the window program runs it, in a mount namespace where the system's zone is
    // Asia/Kolkata (UTC+05:30) and /dev/rtc0 a plain file, given a zone of its own in TZ, with
    // the stub preloaded: what it logged and set, in order, and what the window says.
    const auto run = [&](const std::string& limit, const std::string& env) {
        fs::remove(record);
        dir.Put("helper",
                "#!/bin/sh\nexec unshare -m sh -c 'mount --bind /usr/share/zoneinfo/Asia/Kolkata "
                "/etc/localtime && mount -t tmpfs none /dev && touch /dev/rtc0 && " +
                    limit +
                    " TZ=XXX-5:17 ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + CLOCK_STUB +
                    " LARKMOOR_STUB_RECORD=" + record + " exec " + env + " " + CLOCK_HELPER + "'\n",
                true);
        const ClockSet set = SetAndWait(*MakeHelperClock(dir.path / "helper"));
        std::ifstream file(record);
        std::string kinds, line;
        std::vector<std::string> lines;
        for (; std::getline(file, line); lines.push_back(line))
            kinds += (kinds.empty() ? "" : " ") + line.substr(0, line.find(' '));
        return std::tuple(set, kinds, lines);
    };
    struct Row {
        const char *limit, *env, *kinds, *note;
    };
    std::vector<Row> rows = {
        {"", "", "facility log set rtc log", ""},
        {"ulimit -Sd 240;", "", "facility log set rtc log", ""},
        {"", "env LARKMOOR_STUB_KILL=1", "facility log set", "the clock may have been set to"},
        {"", "env LARKMOOR_STUB_STALL=1", "facility log log", "more than a second passed"},
        {"", "setpriv --no-new-privs", "facility log", "runs under no_new_privs"},
        {"", "env LD_PRELOAD=", "", "it runs without cap_sys_time"},
        {"ulimit -d 240;", "", "facility log", "could not load the system's time zone"},
    };
#ifdef __SANITIZE_ADDRESS__
    rows.erase(rows.begin() + 1), rows.pop_back(); // AddressSanitizer cannot start in 240 KiB
#else
    // Whatever the data limit, a set is named in the log before it and its outcome after it.
    static std::string limits[30];
    for (int i = 0; i < 30; ++i)
        rows.push_back({(limits[i] = "ulimit -d " + std::to_string(200 + 4 * i) + ";").c_str(), "",
                        nullptr, nullptr});
#endif
    for (const Row& row : rows) {
        const auto [set, kinds, lines] = run(row.limit, row.env);
        const bool setMade = kinds.find("set") != std::string::npos;
        EXPECT_EQ(setMade && kinds == "facility log set rtc log", set.ok) << row.limit << kinds;
        if (!row.kinds) {
            EXPECT_TRUE(!setMade || set.ok) << row.limit << kinds << set.note;
            continue;
        }
        EXPECT_EQ(kinds, row.kinds) << row.env;
        EXPECT_TRUE(Has(set.note, row.note)) << set.note;
        if (kinds.empty())
            continue;
        EXPECT_EQ(lines[0], "facility " + std::to_string(LOG_AUTHPRIV));
        if (!setMade)
            continue;
        // hh:54:30 in Kolkata, named as such in the log before the set and in the window after.
        const std::time_t at = std::stoll(lines[2].substr(4));
        const std::time_t there = (at + 19800) % 86400;
        const std::string text = TimeText({0, static_cast<int>(there / 3600), 54, 30});
        EXPECT_EQ(there % 3600, 54 * 60 + 30);
        EXPECT_TRUE(Has(lines[1], "uid 0 sets the clock from ") &&
                    lines[1].ends_with(text + " IST"))
            << lines[1];
        EXPECT_TRUE(set.ok ? set.timeText == text : Has(set.note, text.c_str())) << set.note;
    }
}

TEST(ClockHelper, ItsOutcomeIsShownWithoutWaitingAndItsHardwareClockFollowsAdjtimeAndSummerTime) {
    TempDir dir;
    // A helper's script (nothing: no helper there; empty: not executable; "capable": one with a
    // capability this process's bounding set lacks), its result and note.
    const std::string capable = dir.Put("capable", "");
    fs::copy_file("/bin/true", capable, fs::copy_options::overwrite_existing);
    ASSERT_EQ(std::system(("setcap cap_sys_time+ep " + capable).c_str()), 0);
    const auto descriptors = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), {});
    };
    const auto before = descriptors();
    for (const auto& [script, ok, note] :
         std::initializer_list<std::tuple<const char*, bool, const char*>>{
             {nullptr, false, "is missing"},
             {"exit 0", true, ""},
             {"exit 5", false, "could not set the clock: Input/output error (errno 5)"},
             {"exit 126", false, "could not load the system's time zone /etc/localtime"},
             {"kill -9 $$", false, "signal 9 (Killed) before it set the clock: nothing was set"},
             {"echo 14:54:30 1; exec /bin/sleep 60", false,
              "within 2 s and was stopped after it began to set the clock: the clock may have "
              "been set to 14:54:30"},
             {"", false, "add this user to the group larkmoor"},
             {"capable", false, "bounding set of this session lacks cap_sys_time"}}) {
        const bool withCapability = script && std::string_view(script) == "capable";
        if (script && !withCapability)
            dir.Put("helper", std::string("#!/bin/sh\n") + script + "\n", *script);
        const fs::path helper = withCapability ? fs::path(capable) : dir.path / "helper";
        const ClockSet set = SetAndWait(*MakeHelperClock(helper, std::chrono::seconds(2)));
        EXPECT_EQ(set.ok, ok) << note;
        EXPECT_TRUE(Has(set.note, note)) << set.note;
    }
    EXPECT_EQ(descriptors(), before); // none kept from any helper
    // Started with SIGCHLD ignored, the program still waits for its helper; should the wait
    // fail all the same, nothing counts as set.
    dir.Put("helper", "#!/bin/sh\nexit 0\n", true);
    std::signal(SIGCHLD, SIG_IGN);
    const auto waiting = MakeHelperClock(dir.path / "helper");
    EXPECT_TRUE(SetAndWait(*waiting).ok);
    std::signal(SIGCHLD, SIG_IGN);
    const ClockSet unwaited = SetAndWait(*waiting);
    std::signal(SIGCHLD, SIG_DFL);
    EXPECT_TRUE(!unwaited.ok && Has(unwaited.note, "could not be waited for")) << unwaited.note;
    // Each outcome crosses the exit status: refused; set; set, but no hardware clock written.
    for (const auto& [setError, rtcError] : {std::pair{EPERM, 0}, {0, 0}, {0, EBUSY}}) {
        const HelperOutcome out = ReadHelperStatus(HelperStatus(setError, rtcError));
        EXPECT_EQ(std::pair(out.set, out.error), std::pair(setError == 0, setError + rtcError));
    }

    // A helper that takes 3 s, reads the clock in the next hour and writes no hardware clock:
    // the time label goes on meanwhile, a closure then starts no second helper, and the hour it
    // set is the one shown when it ends, with the hardware clock left unwritten.
    const std::string runs = dir.Put("runs", "");
    dir.Put("helper",
            "#!/bin/sh\necho >>" + runs + "\nsleep 3\necho 15:54:30 1773183270\nexit 141\n", true);
    fakes::FakePort port; // read open, then closed
    fakes::FakeControl lblTime, lblPort;
    const auto clock = MakeHelperClock(dir.path / "helper");
    ClosureWatcher watcher(port, *clock, lblTime, lblPort);
    std::set<std::string> timesShown;
    auto longest = std::chrono::steady_clock::duration{};
    for (int pass = 0; pass < 200 && lblPort.text != "Time Set"; ++pass, usleep(50'000)) {
        port.status = pass == 1 || pass > 3 ? 0 : 0x7F; // closed at once, then again
        const auto start = std::chrono::steady_clock::now();
        watcher.Timer1_Timer();
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        timesShown.insert(lblTime.text);
    }
    EXPECT_LT(longest, std::chrono::milliseconds(1500)); // never the helper's 3 s
    EXPECT_GE(timesShown.size(), 3u);
    EXPECT_TRUE(Has(lblPort.toolTip, " to 15:54:30.\nThe hardware clock /dev/rtc0 was not written"))
        << lblPort.toolTip;
    std::ifstream runLines(runs);
    EXPECT_EQ(std::distance(std::istreambuf_iterator<char>(runLines), {}), 1);

    // A change of zone without tzset(): a reading of the clock notices it by itself.
    setenv("TZ", "XXX-5:17", 1);
    const ClockReading r = MakeHelperClock("")->Now();
    EXPECT_EQ((r.utcNs / 1'000'000'000 + 5 * 3600 + 17 * 60) % 86400,
              r.hour * 3600 + r.minute * 60 + r.second);
    // One reading, one set, to minute 54, second 30 of the hour read, in the reading's own
    // offset: at 10:59:59.999 UTC (11:59:59.999 CET) set 2 ms later; at 00:30 UTC, the first
    // 02:30 of the autumn change (CEST); held 1.5 s after the reading, nothing.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1), tzset();
    for (const auto& [now, heldMs, setTo] : std::initializer_list<std::tuple<time_t, int, time_t>>{
             {1773140399, 2, 1773140070}, {1792888200, 2, 1792889670}, {1773140399, 1500, 0}}) {
        std::vector<time_t> sets;
        long boot = 0; // milliseconds: the reading's, then the set's
        const ClockCalls calls{[&](clockid_t id) {
                                   const timespec at{boot / 1000, boot % 1000 * 1'000'000};
                                   boot += heldMs * (id == CLOCK_BOOTTIME);
                                   return id == CLOCK_REALTIME ? timespec{now, 999'000'000} : at;
                               },
                               [&](const timespec& ts) { return sets.push_back(ts.tv_sec), 0; }};
        ClockMove move = ReadFiftyFourThirty(calls);
        SetClock(move, calls);
        EXPECT_EQ(sets, std::vector<time_t>(setTo != 0, setTo)) << now;
        EXPECT_EQ(move.heldUp, setTo == 0);
    }
    // Summer time: 01:30 UTC is 02:30 in the window and a local hardware clock in winter, 03:30
    // in summer.
    EXPECT_EQ(std::tuple(LocalReading({1782869400, 0}).hour, RtcTime(1767231000, true).tm_hour,
                         RtcTime(1782869400, true).tm_hour),
              std::tuple(3, 2, 3));
    const rtc_time utc = RtcTime(1773183270, false); // 2026-03-10 22:54:30 UTC
    EXPECT_EQ(std::tuple(utc.tm_year, utc.tm_mon, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec),
              std::tuple(126, 2, 10, 22, 54, 30));
    EXPECT_TRUE(AdjtimeSaysLocal(dir.Put("adjtime", "0.0 0 0.0\n0\nLOCAL")));
    EXPECT_FALSE(AdjtimeSaysLocal(dir.Put("adjtime", "LOCAL\nLOCAL\nUTC\nLOCAL\n")) ||
                 AdjtimeSaysLocal(dir.path / "none"));
    // Never a real RTC: a plain file refuses the request, a missing device cannot be opened.
    const int plain = OpenRtc(dir.Put("rtc", ""));
    EXPECT_EQ(std::pair(WriteRtc(plain, utc), OpenRtc(dir.path / "none")),
              std::pair(ENOTTY, -ENOENT));
    close(plain);
    // In UTC, a zone file that says so, or none at all, is a zone loaded; any other file is not.
    setenv("TZ", "UTC0", 1), tzset();
    EXPECT_EQ(std::tuple(SystemZoneLoaded(dir.path / "none"),
                         SystemZoneLoaded("/usr/share/zoneinfo/Etc/UTC"),
                         SystemZoneLoaded("/usr/share/zoneinfo/Asia/Kolkata")),
              std::tuple(true, true, false));
}

TEST(LinuxPrograms, StartsTheFileItselfWithoutAShellAndReapsIt) {
    TempDir dir;
    // Leaves its process id in a file named after itself with ".ran" added; a shell would split
    // its path at the space, or run it as a child of its own.
    const std::string program = dir.Put("my tools/x", "#!/bin/sh\necho $$ >\"$0.ran\"\n", true);
    auto programs = MakeSystemPrograms();
    EXPECT_TRUE(programs->NormalFileExists(program));
    // No path, a missing file and a folder are neither normal files nor started.
    for (const std::string& path : {std::string(), program + " 2", dir.path.string()})
        EXPECT_FALSE(programs->NormalFileExists(path) || programs->Start(path)) << path;
    const auto pid = SpawnDetached(program);
    ASSERT_TRUE(pid);
    // Once reaped, the process id no longer answers; a zombie still would.
    for (int i = 0; i < 400 && kill(*pid, 0) == 0; ++i)
        usleep(5000);
    EXPECT_EQ(kill(*pid, 0), -1);
    pid_t ran = 0;
    EXPECT_TRUE(std::ifstream(program + ".ran") >> ran && ran == *pid);
}

} // namespace larkmoor

// The Linux machine: the first parallel port over a fake /proc and /dev, the clock and its
// helper (never able to set this machine's clock), and programs started from a path.
#include "fakes.h"
#include "platform/linux/clock_linux.h"
#include "platform/linux/port_linux.h"
#include "platform/linux/programs_linux.h"
#include "platform/linux/set_clock.h"
#include "watcher/watcher.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/capability.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
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

// A ppdev device that answers `status` or fails as told; the claim thread may let go of it last.
struct FakePpdev : PpdevIo {
    int claims = 0, claimError = 0, readError = 0, closes = 0, status = 0x7F;
    int OpenAndClaim(const std::string&) override { return ++claims, claimError ? -claimError : 7; }
    int ReadStatus(int, std::uint8_t& s) override { return s = status, readError; }
    void Close(int) override { ++closes; }
};

// A fake /proc and /dev, a fake ppdev device and a steady clock that moves only when told, all
// watched by the real watcher with a fake system clock.
struct PortTree {
    TempDir dir;
    std::shared_ptr<FakePpdev> io = std::make_shared<FakePpdev>();
    std::chrono::steady_clock::time_point now{};
    std::unique_ptr<Port> port =
        MakeFirstParallelPort({dir.path / "proc", dir.path / "dev", io, [this] { return now; }});
    fakes::FakeClock clock;
    fakes::FakeControl lblTime, lblPort;
    ClosureWatcher watcher{*port, clock, lblTime, lblPort};
    void AddPort(const std::string& name, const char* base) {
        dir.Put("proc/sys/dev/parport/" + name + "/base-addr", std::string(base) + "\t1656\n");
    }
    // `seconds` later: a reading once a claim under way has ended (within two seconds), then a
    // pass of the watcher.
    PortReading Read(int seconds = 0) {
        now += std::chrono::seconds(seconds);
        PortReading r;
        for (int i = 0; i < 400 && (r = port->Inp(kStatusPort)).note.starts_with("Waiting"); ++i)
            usleep(5000);
        watcher.Timer1_Timer();
        return r;
    }
};

TEST(FirstParallelPort, TheOneAt0x378ElseTheLowestListedElseDevPortOnlyWhereIoportsShowsIt) {
    // The ports listed, /proc/ioports, and how the reading begins: status (0: none), note.
    using Case =
        std::tuple<std::vector<std::pair<const char*, const char*>>, const char*, const char*>;
    for (const auto& [ports, ioports, want] : std::initializer_list<Case>{
             {{{"parport0", "632"}, {"parport1", "888"}}, "", "127 Reading parport1 at 0x378"},
             {{{"parport10", "632"}, {"parport2", "53264"}}, "", "127 Reading parport2 at 0xd010"},
             {{}, "0000-001f : dma1\n  0378-037a : parport0\n", "127 Reading port 0x379 through"},
             {{}, "0378-037a : ne2000\n", "0 The kernel lists no parallel port"},
             {{}, "", "0 The kernel lists no parallel port"}}) {
        PortTree tree;
        for (const auto& [name, base] : ports)
            tree.AddPort(name, base);
        tree.dir.Put("proc/ioports", ioports);
        tree.dir.Put("dev/port", std::string(0x379, '\0') + "\x7F");
        const PortReading r = tree.Read();
        EXPECT_EQ((std::to_string(r.status.value_or(0)) + " " + r.note).find(want), 0u) << r.note;
    }
}

TEST(FirstParallelPort, ClaimedAgainAfter5sAndGoneAtOnceWhileTheWatcherSetsNothing) {
    PortTree tree;
    tree.AddPort("parport0", "888");
    tree.io->claimError = EACCES;
    EXPECT_NE(tree.Read().note.find("Add this user to the group lp"), std::string::npos);
    tree.Read(4); // too early to claim again
    tree.io->claimError = 0;
    EXPECT_EQ(tree.Read(1).status, 0x7F);
    EXPECT_EQ(tree.io->claims, 2);
    // Unplugged: the device still answers, with a status that would read as closed.
    fs::remove_all(tree.dir.path / "proc/sys/dev/parport/parport0");
    tree.io->status = 0;
    EXPECT_NE(tree.Read().note.find("The kernel no longer lists parport0"), std::string::npos);
    EXPECT_EQ(tree.io->closes, 1);
    tree.AddPort("parport0", "888"); // back, but its reads fail
    tree.io->readError = ENODEV;
    EXPECT_NE(tree.Read(5).note.find("cannot be read: No such device"), std::string::npos);
    EXPECT_TRUE(tree.clock.sets.empty());
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

// Starts `argv` (the clock helper, or a program that runs it) with its output to `out`, once
// `prepare` has succeeded in the child, in a zone given by TZ that the helper must ignore.
pid_t Start(int out, std::vector<const char*> argv, const std::function<bool()>& prepare) {
    const pid_t child = fork();
    if (child == 0) {
        if (!prepare() || dup2(out, STDOUT_FILENO) != STDOUT_FILENO)
            _exit(100);
        argv.push_back(nullptr);
        char* envp[] = {const_cast<char*>("TZ=XXX-5:17"), nullptr}; // an offset no zone has
        execvpe(argv[0], const_cast<char**>(argv.data()), envp);
        _exit(101);
    }
    return child;
}
int ExitStatus(pid_t child) {
    int status = 0;
    return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
// In a mount namespace of its own, the system's zone becomes Asia/Kolkata (UTC+05:30).
bool InKolkata() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("/usr/share/zoneinfo/Asia/Kolkata", kSystemZone, nullptr, MS_BIND, nullptr) == 0;
}

TEST(ClockHelper, SetsFromAFreshReadingBeforeItSaysAnythingAndOnlyInTheSystemsZone) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: a mount namespace";
    TempDir dir;
    // Its data limited (soft, hard; 240 KiB starve glibc's loading of the zone file): the
    // status, and whether it aimed at hh:54:30 in Kolkata.
    const rlim_t none = RLIM_INFINITY, low = 240 * 1024;
    for (const auto& [soft, hard, status] : std::initializer_list<std::tuple<rlim_t, rlim_t, int>>{
             {none, none, EPERM}, {low, none, EPERM}, {low, low, kZoneNotLoaded}}) {
#ifdef __SANITIZE_ADDRESS__
        if (soft != none)
            continue; // a helper built with AddressSanitizer cannot start in 240 KiB
#endif
        const int out = open(dir.Put("said", "").c_str(), O_WRONLY | O_CLOEXEC);
        const pid_t child = Start(out, {CLOCK_HELPER}, [soft, hard] {
            const rlimit limit{soft, hard};
            return InKolkata() && setrlimit(RLIMIT_DATA, &limit) == 0;
        });
        close(out);
        EXPECT_EQ(ExitStatus(child), status) << soft << " " << hard;
        std::string text;
        std::time_t at = 0;
        if (status == EPERM) {
            EXPECT_TRUE(std::ifstream(dir.path / "said") >> text >> at);
            const std::time_t there = at + 19800; // the time as Kolkata's clocks show it
            EXPECT_EQ(text, TimeText({0, static_cast<int>(there / 3600 % 24), 54, 30}));
            EXPECT_EQ(there % 3600, 54 * 60 + 30);
        }
    }

    // Its output blocked (a full pipe), it has already tried its set: nothing it reads before
    // the block can be set after it.
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK), 0);
    while (write(pipeEnds[1], "x", 1) == 1) {
    }
    fcntl(pipeEnds[1], F_SETFL, 0);
    const std::string trace = (dir.path / "trace").string();
    const pid_t child =
        Start(pipeEnds[1],
              {"strace", "-o", trace.c_str(), "-e", "trace=clock_settime,write", CLOCK_HELPER},
              [] { return true; });
    close(pipeEnds[1]);
    std::string calls;
    for (int i = 0; i < 400 && calls.find("clock_settime") == std::string::npos; ++i) {
        usleep(5000);
        std::getline(std::ifstream(trace), calls, '\0');
    }
    EXPECT_NE(calls.find("clock_settime(CLOCK_REALTIME"), std::string::npos) << calls;
    char drain[65536];
    while (read(pipeEnds[0], drain, sizeof drain) > 0) {
    }
    EXPECT_EQ(ExitStatus(child), EPERM);
    close(pipeEnds[0]);
}

TEST(ClockHelper, ItsOutcomeIsShownAndItsHardwareClockFollowsAdjtimeAndSummerTime) {
    TempDir dir;
    // A helper's script (nothing: no helper there; empty: not executable), its result and note.
    for (const auto& [script, ok, note] :
         std::initializer_list<std::tuple<const char*, bool, const char*>>{
             {nullptr, false, "is missing"},
             {"exit 0", true, ""},
             {"exit 1", false, "lacks cap_sys_time"},
             {"exit 5", false, "could not set the clock: Input/output error (errno 5)"},
             {"exit 126", false, "could not load the system's time zone /etc/localtime"},
             {"kill -9 $$", false, "signal 9"},
             {"exec /bin/sleep 10", false, "did not finish within 2000 ms"},
             {"", false, "add this user to the group larkmoor"}}) {
        if (script)
            dir.Put("helper", std::string("#!/bin/sh\n") + script + "\n", *script);
        const ClockSet set = MakeHelperClock(dir.path / "helper")->SetTimeOfDay({}, "14:54:30");
        EXPECT_EQ(set.ok, ok) << note;
        EXPECT_NE(set.note.find(note), std::string::npos) << set.note;
    }
    // A helper with a capability this process's bounding set lacks: the kernel refuses to start it.
    fs::copy_file("/bin/true", dir.path / "capable");
    ASSERT_EQ(std::system(("setcap cap_sys_time+ep " + (dir.path / "capable").string()).c_str()),
              0);
    EXPECT_NE(MakeHelperClock(dir.path / "capable")
                  ->SetTimeOfDay({}, "14:54:30")
                  .note.find("bounding set lacks"),
              std::string::npos);
    // Started with SIGCHLD ignored, the program still waits for its helper; should the wait
    // fail all the same, nothing counts as set.
    dir.Put("helper", "#!/bin/sh\nexit 0\n", true);
    std::signal(SIGCHLD, SIG_IGN);
    const auto waiting = MakeHelperClock(dir.path / "helper");
    EXPECT_TRUE(waiting->SetTimeOfDay({}, "14:54:30").ok);
    std::signal(SIGCHLD, SIG_IGN);
    const ClockSet unwaited = waiting->SetTimeOfDay({}, "14:54:30");
    std::signal(SIGCHLD, SIG_DFL);
    EXPECT_FALSE(unwaited.ok);
    EXPECT_NE(unwaited.note.find("could not be waited for"), std::string::npos) << unwaited.note;
    // Each outcome crosses the exit status: refused; set; set, but no hardware clock written.
    for (const auto& [setError, rtcError] : {std::pair{EPERM, 0}, {0, 0}, {0, EBUSY}}) {
        const HelperOutcome outcome = ReadHelperStatus(HelperStatus(setError, rtcError));
        EXPECT_EQ(std::pair(outcome.set, outcome.error),
                  std::pair(setError == 0, setError + rtcError));
    }

    // A helper that read the clock in the next hour and wrote no hardware clock: the hour it
    // set is the one shown, and so is the hardware clock left unwritten.
    dir.Put("helper", "#!/bin/sh\necho 15:54:30 1773183270\nexit 141\n", true);
    fakes::FakePort port; // read open, then closed
    fakes::FakeControl lblTime, lblPort;
    const auto clock = MakeHelperClock(dir.path / "helper");
    ClosureWatcher watcher(port, *clock, lblTime, lblPort);
    watcher.Timer1_Timer();
    port.status = 0;
    watcher.Timer1_Timer();
    EXPECT_EQ(lblPort.text, "Time Set");
    EXPECT_NE(lblPort.toolTip.find(" to 15:54:30.\n"), std::string::npos) << lblPort.toolTip;
    EXPECT_NE(lblPort.toolTip.find("/dev/rtc0 was not written: Permission denied"),
              std::string::npos);

    // A change of zone without tzset(): a reading of the clock notices it by itself.
    setenv("TZ", "XXX-5:17", 1);
    const ClockReading r = MakeHelperClock("")->Now();
    EXPECT_EQ((r.utcNs / 1'000'000'000 + 5 * 3600 + 17 * 60) % 86400,
              r.hour * 3600 + r.minute * 60 + r.second);
    // Held an hour between its read at 22:10 and its set, the helper sets 22:54:30, sees the
    // hour gone, and sets 23:54:30.
    setenv("TZ", "UTC0", 1), tzset();
    std::vector<time_t> sets;
    const ClockMove move = SetToFiftyFourThirty(
        {[&](clockid_t id) {
             return timespec{id == CLOCK_BOOTTIME ? 3600 * !sets.empty() : 1773180600, 0};
         },
         [&](const timespec& ts) { return sets.push_back(ts.tv_sec), 0; }});
    EXPECT_EQ(sets, (std::vector<time_t>{1773183270, 1773186870}));
    EXPECT_EQ(std::pair(move.before.tv_sec, move.set.tv_sec), std::pair(1773180600l, 1773186870l));
    // A hardware clock in local time keeps summer time: 01:30 UTC is 02:30 or 03:30 in Berlin.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1), tzset();
    EXPECT_EQ(std::pair(RtcTime(1767231000, true).tm_hour, RtcTime(1782869400, true).tm_hour),
              std::pair(2, 3));
    const rtc_time utc = RtcTime(1773183270, false); // 2026-03-10 22:54:30 UTC
    EXPECT_EQ(std::tuple(utc.tm_year, utc.tm_mon, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec),
              std::tuple(126, 2, 10, 22, 54, 30));
    EXPECT_TRUE(AdjtimeSaysLocal(dir.Put("adjtime", "0.0 0 0.0\n0\nLOCAL")));
    EXPECT_FALSE(AdjtimeSaysLocal(dir.Put("adjtime", "LOCAL\nLOCAL\nUTC\nLOCAL\n")));
    EXPECT_FALSE(AdjtimeSaysLocal(dir.path / "none"));
    // Never a real RTC: a plain file refuses the request, a missing device is not written.
    EXPECT_EQ(std::pair(WriteRtc(dir.Put("rtc", ""), utc), WriteRtc(dir.path / "none", utc)),
              std::pair(ENOTTY, ENOENT));
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
    // The table that stands in for the registry opens the key of the system information tool.
    RegistryKey key = 0;
    const char* tool = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
    EXPECT_EQ(MakeSystemRegistry()->OpenKey(kHkeyLocalMachine, tool, kKeyRead, key), 0);
}

} // namespace larkmoor

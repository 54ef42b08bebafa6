// The Linux machine: the first parallel port over a fake /proc and /dev, the clock and its
// helper (never able to set this machine's clock), and programs started from a path.
#include "fakes.h"
#include "platform/linux/clock_linux.h"
#include "platform/linux/one_instance_linux.h"
#include "platform/linux/port_linux.h"
#include "platform/linux/programs_linux.h"
#include "platform/linux/readiness_linux.h"
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
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace larkmoor {
namespace fs = std::filesystem;

bool Has(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

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
// told; every call waits while `stuck` is set (for at most 5 s), as one held up in the kernel
// does. A read that answers 0x00 deletes the device first, as the kernel does to a removed port.
struct FakePpdev : PpdevIo {
    std::atomic<int> claims = 0, claimError = 0, readError = 0, closes = 0, status = 0x7F;
    std::atomic<bool> stuck = false;
    void Wait() const {
        for (int i = 0; stuck && i < 5000; ++i)
            usleep(1000);
    }
    int OpenAndClaim(const std::string& path) override {
        Wait(), ++claims;
        const int fd = claimError ? (errno = claimError, -1) : open(path.c_str(), O_RDONLY);
        return fd < 0 ? -errno : fd;
    }
    int ReadStatus(int fd, std::uint8_t& s) override {
        if (Wait(), status == 0)
            fs::remove(fs::read_symlink("/proc/self/fd/" + std::to_string(fd)));
        return s = status, readError;
    }
    void Close(int fd) override { ++closes, close(fd); }
};

// A fake /proc and /dev, a fake ppdev device and a steady clock that moves only when told, all
// watched by the real watcher with a fake system clock.
struct PortTree {
    TempDir dir;
    std::shared_ptr<FakePpdev> io = std::make_shared<FakePpdev>();
    std::atomic<std::chrono::steady_clock::time_point> now{};
    fakes::FakeClock clock;
    fakes::FakeReadiness readiness;
    fakes::FakeControl lblTime, lblPort;
    std::unique_ptr<Port> port;
    std::optional<ClosureWatcher> watcher;
    // Builds the port, whose thread looks at the tree at once, and its watcher: called once the
    // tree holds what that first look is to find.
    void Start() {
        port = MakeFirstParallelPort(
            {dir.path / "proc", dir.path / "dev", io, [this] { return now.load(); }});
        watcher.emplace(*port, clock, readiness, lblTime, lblPort);
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
    // Ended while its thread is held up in the kernel: the port lets the thread go, which lets
    // go of the device once the kernel answers.
    tree.io->stuck = true;
    tree.Later(1);
    EXPECT_TRUE(tree.Until("Waiting for the kernel to read"));
    const auto quit = std::chrono::steady_clock::now();
    tree.watcher.reset(), tree.port.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - quit, std::chrono::seconds(1));
    tree.io->stuck = false;
    for (int i = 0; i < 300 && tree.io->closes == 3; ++i)
        usleep(10000);
    // The real claim of a file that is no port: refused, its descriptor closed.
    const auto open = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
    const auto before = open();
    EXPECT_EQ(MakeSystemPpdev()->OpenAndClaim(tree.dir.Put("plain", "")), -ENOTTY);
    EXPECT_EQ(open(), before);
}

TEST(OneLarkmoorPerPc, ShownOnItsSeatElsewhereSaidAndTakenOverNeverTwoNorSilently) {
    using Is = Instance::Is;
    TempDir dir;
    const std::string folder = fs::path(dir.Put("lock", "")).parent_path();
    const Seat here{getuid(), ":0", ""};
    EXPECT_EQ(FindInstance(dir.Put("plain", ""), here).is, Is::kRefused);
    Instance holder = FindInstance(folder, here);
    ASSERT_EQ(holder.is, Is::kFirst);
    // A holder that answers nobody, its queue full: still a holder.
    sockaddr_un address{AF_UNIX, {}};
    (folder + "/socket").copy(address.sun_path, sizeof address.sun_path - 1);
    std::vector<int> queued{socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0)};
    while (connect(queued.back(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        queued.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
    const Instance full = FindInstance(folder, here);
    EXPECT_TRUE(full.is == Is::kElsewhere && Has(full.message, "does not answer")) << full.message;
    for (int fd : queued)
        close(fd);
    EXPECT_EQ(AnswerRequests(holder.listening, here), std::nullopt); // they asked nothing
    // Answering: a start on its seat has the window shown, with its token; a start on another
    // display, or of another user than the holder's, is told where it runs and by whom.
    const std::string by = "for the user root (process " + std::to_string(getpid()) + ")";
    Instance other;
    for (const auto& [uid, display, is] : {std::tuple{here.uid, ":0", Is::kShown},
                                           {here.uid, ":1", Is::kElsewhere},
                                           {here.uid + 1, ":0", Is::kElsewhere}}) {
        std::jthread start([&] { other = FindInstance(folder, {here.uid, display, "token"}); });
        pollfd ready{holder.listening, POLLIN, 0};
        poll(&ready, 1, 5000);
        const auto token = AnswerRequests(holder.listening, {uid, ":0", ""});
        start.join();
        EXPECT_EQ(token, is == Is::kShown ? std::optional("token") : std::nullopt);
        EXPECT_EQ(other.is, is) << display;
        EXPECT_TRUE(is == Is::kShown || Has(other.message, (by + ", on the display :0.").c_str()))
            << other.message;
    }
    // The last one waits, and takes over once the holder has ended.
    EXPECT_FALSE(TakeOver(other, folder));
    close(holder.lock), close(holder.listening);
    EXPECT_TRUE(TakeOver(other, folder) && other.is == Is::kFirst && other.listening >= 0);
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

TEST(ClockHelper, SetsFromAFreshReadingBeforeItSaysAnythingAndOnlyInTheSystemsZone) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: a mount namespace";
    TempDir dir;
    const std::string said = dir.Put("said", ""), trace = dir.Put("trace", "");
    // In a mount namespace where the system's zone is Asia/Kolkata (UTC+05:30), given a zone
    // of its own in TZ and limits on its data (240 KiB starve glibc's loading of the zone
    // file): its status, and hh:54:30 of Kolkata aimed at where it refuses to set.
    for (const auto& [limit, status] :
         {std::pair{"", EPERM}, {"ulimit -Sd 240;", EPERM}, {"ulimit -d 240;", kZoneNotLoaded}}) {
#ifdef __SANITIZE_ADDRESS__
        if (*limit)
            continue; // a helper built with AddressSanitizer cannot start in 240 KiB
#endif
        const std::string command =
            std::string("unshare -m sh -c 'mount --bind /usr/share/zoneinfo/Asia/Kolkata ") +
            "/etc/localtime && " + limit + " TZ=XXX-5:17 exec " + CLOCK_HELPER + " >" + said + "'";
        EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), status) << command;
        std::string text;
        std::time_t at = 0;
        if (status != EPERM)
            continue;
        EXPECT_TRUE(std::ifstream(said) >> text >> at);
        const std::time_t there = (at + 19800) % 86400; // the time of day in Kolkata
        EXPECT_EQ(text, TimeText({0, static_cast<int>(there / 3600), 54, 30}));
        EXPECT_EQ(there % 3600, 54 * 60 + 30);
    }
    // Its output blocked (a full pipe), it has tried its set already: nothing it reads before
    // the block can be set after it.
    const std::string blocked =
        "(head -c 65536 /dev/zero; exec strace -o " + trace + " " + CLOCK_HELPER +
        ") | (found=1; for i in $(seq 150); do grep -q 'clock_settime(CLOCK_' " + trace +
        " && found=0 && break; sleep 0.1; done; cat >/dev/null; exit $found)";
    EXPECT_EQ(std::system(blocked.c_str()), 0) << blocked;
}

TEST(ClockHelper, ItsOutcomeIsShownAndItsHardwareClockFollowsAdjtimeAndSummerTime) {
    TempDir dir;
    // A helper's script (nothing: no helper there; empty: not executable; "capable": one with a
    // capability this process's bounding set lacks), its result and note.
    const std::string capable = dir.Put("capable", "");
    fs::copy_file("/bin/true", capable, fs::copy_options::overwrite_existing);
    ASSERT_EQ(std::system(("setcap cap_sys_time+ep " + capable).c_str()), 0);
    for (const auto& [script, ok, note] :
         std::initializer_list<std::tuple<const char*, bool, const char*>>{
             {nullptr, false, "is missing"},
             {"exit 0", true, ""},
             {"exit 1", false, "lacks cap_sys_time"},
             {"exit 5", false, "could not set the clock: Input/output error (errno 5)"},
             {"exit 126", false, "could not load the system's time zone /etc/localtime"},
             {"kill -9 $$", false, "signal 9"},
             {"exec /bin/sleep 10", false, "did not finish within 2000 ms"},
             {"", false, "add this user to the group larkmoor"},
             {"capable", false, "bounding set of this session lacks cap_sys_time"}}) {
        const bool withCapability = script && std::string_view(script) == "capable";
        if (script && !withCapability)
            dir.Put("helper", std::string("#!/bin/sh\n") + script + "\n", *script);
        const fs::path helper = withCapability ? fs::path(capable) : dir.path / "helper";
        const ClockSet set = MakeHelperClock(helper)->SetTimeOfDay({}, "14:54:30");
        EXPECT_EQ(set.ok, ok) << note;
        EXPECT_TRUE(Has(set.note, note)) << set.note;
    }
    // Started with SIGCHLD ignored, the program still waits for its helper; should the wait
    // fail all the same, nothing counts as set.
    dir.Put("helper", "#!/bin/sh\nexit 0\n", true);
    std::signal(SIGCHLD, SIG_IGN);
    const auto waiting = MakeHelperClock(dir.path / "helper");
    EXPECT_TRUE(waiting->SetTimeOfDay({}, "14:54:30").ok);
    std::signal(SIGCHLD, SIG_IGN);
    const ClockSet unwaited = waiting->SetTimeOfDay({}, "14:54:30");
    std::signal(SIGCHLD, SIG_DFL);
    EXPECT_TRUE(!unwaited.ok && Has(unwaited.note, "could not be waited for")) << unwaited.note;
    // Each outcome crosses the exit status: refused; set; set, but no hardware clock written.
    for (const auto& [setError, rtcError] : {std::pair{EPERM, 0}, {0, 0}, {0, EBUSY}}) {
        const HelperOutcome out = ReadHelperStatus(HelperStatus(setError, rtcError));
        EXPECT_EQ(std::pair(out.set, out.error), std::pair(setError == 0, setError + rtcError));
    }

    // A helper that read the clock in the next hour and wrote no hardware clock: the hour it
    // set is the one shown, and so is the hardware clock left unwritten.
    dir.Put("helper", "#!/bin/sh\necho 15:54:30 1773183270\nexit 141\n", true);
    fakes::FakePort port; // read open, then closed
    fakes::FakeControl lblTime, lblPort;
    const auto clock = MakeHelperClock(dir.path / "helper");
    fakes::FakeReadiness readiness;
    ClosureWatcher watcher(port, *clock, readiness, lblTime, lblPort);
    watcher.Timer1_Timer();
    port.status = 0;
    watcher.Timer1_Timer();
    EXPECT_EQ(lblPort.text, "Time Set");
    EXPECT_TRUE(Has(lblPort.toolTip, " to 15:54:30.\nThe hardware clock /dev/rtc0 was not written"))
        << lblPort.toolTip;

    // A change of zone without tzset(): a reading of the clock notices it by itself.
    setenv("TZ", "XXX-5:17", 1);
    const ClockReading r = MakeHelperClock("")->Now();
    EXPECT_EQ((r.utcNs / 1'000'000'000 + 5 * 3600 + 17 * 60) % 86400,
              r.hour * 3600 + r.minute * 60 + r.second);
    // Held an hour between its read at 22:10 UTC and its set, the helper sets 22:54:30, sees
    // the hour gone, and sets 23:54:30.
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
    EXPECT_FALSE(AdjtimeSaysLocal(dir.Put("adjtime", "LOCAL\nLOCAL\nUTC\nLOCAL\n")) ||
                 AdjtimeSaysLocal(dir.path / "none"));
    // Never a real RTC: a plain file refuses the request, a missing device is not written.
    EXPECT_EQ(std::pair(WriteRtc(dir.Put("rtc", ""), utc), WriteRtc(dir.path / "none", utc)),
              std::pair(ENOTTY, ENOENT));
}

TEST(LinuxReadiness, EachCauseHasItsOwnReasonAndARunningTimeServiceIsNamed) {
    TempDir dir;
    const char* ready = "Name:\tx\nNoNewPrivs:\t0\nCapBnd:\t000001ffffffffff\n";
    const char* limited = "NoNewPrivs:\t1\nCapBnd:\t000001fffdffffff\n";
    // Revision 2 file capabilities, permitting cap_sys_time alone or all but it.
    std::string time("\1\0\0\2\0\0\0\2\0\0\0\0", 12), rest("\1\0\0\2\377\377\377\375\0\0\0\0", 12);
    const struct {
        const char* status;
        int mode; // of the helper; 0 for none
        std::optional<std::string> caps;
        const char* comm; // of a running program
        std::vector<const char*> reasons;
        const char* service;
    } cases[] = {
        {ready, 0750, time, "chronyd", {}, "chronyd"},
        {ready, 0, time, "ntpd", {"is missing: reinstall"}, "ntpd"},
        {ready, 0640, time, "systemd-timesyn", {"may not be run"}, "systemd-timesyncd"},
        {ready, 0750, rest, "chronyd-x", {"lacks cap_sys_time: reinstall"}, ""},
        {limited, 0750, time, "", {"bounding set", "no_new_privs"}, "NTP (timedatectl)"},
    };
    for (const auto& c : cases) {
        fs::remove_all(dir.path);
        dir.Put("proc/self/comm", "chronyd\n"); // not a process number
        dir.Put("proc/42/comm", c.comm + std::string("\n"));
        if (c.mode)
            fs::permissions(dir.Put("helper", ""), fs::perms(c.mode));
        const ClockReadiness got =
            CheckLinuxReadiness({dir.Put("status", c.status), dir.path / "proc",
                                 dir.path / "helper", [&](auto&) { return c.caps; },
                                 [&] { return std::optional(!*c.comm); }}); // NTP on, none runs
        const auto lines = std::ranges::count(got.missing, '\n') + !got.missing.empty();
        EXPECT_EQ(lines, c.reasons.size()) << got.missing;
        for (const char* reason : c.reasons)
            EXPECT_TRUE(Has(got.missing, reason)) << got.missing;
        EXPECT_EQ(got.timeService, c.service);
    }
}

// The kernel's own view: this suite's bounding set lacks cap_sys_time (see above), and the build's
// helper holds no file capability.
TEST(LinuxReadiness, TheSessionAndTheHelperAreReadFromTheKernel) {
    ReadinessFiles files = SystemReadinessFiles();
    files.helper = CLOCK_HELPER;
    const std::string missing = CheckLinuxReadiness(files).missing;
    EXPECT_TRUE(Has(missing, CLOCK_HELPER " lacks cap_sys_time") && Has(missing, "bounding set"));
}

TEST(LinuxReadiness, TheChecksRunAtOnceThenEveryPeriodOffTheCallersThreadUntilTheirOwnerGoes) {
    std::atomic<int> checks = 0;
    const auto caller = std::this_thread::get_id();
    auto readiness = MakeBackgroundReadiness(
        [&] {
            return ClockReadiness{caller != std::this_thread::get_id(), std::to_string(++checks)};
        },
        20);
    for (int i = 0; i < 600 && readiness->Latest().missing != "3"; ++i)
        usleep(5000);
    EXPECT_TRUE(readiness->Latest().checked && readiness->Latest().missing == "3");
    const auto start = std::chrono::steady_clock::now();
    readiness = MakeBackgroundReadiness([] { return ClockReadiness{}; }, 60'000);
    readiness.reset(); // at once, not after its period
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
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

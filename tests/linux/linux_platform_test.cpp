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
#include <grp.h>
#include <linux/capability.h>
#include <optional>
#include <poll.h>
#include <regex>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
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
    std::atomic<std::chrono::steady_clock::time_point> lastRead{};
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
        if (Wait(), lastRead = std::chrono::steady_clock::now(), status == 0)
            fs::remove(fs::read_symlink("/proc/self/fd/" + std::to_string(fd)));
        return s = status, -readError;
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
        port = MakeFirstParallelPort({dir.path / "proc", dir.path / "dev", io,
                                      [this] { return now.load(); }, [] { return false; }});
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
    EXPECT_EQ(FindFirstPort(tree.dir.path / "other", "/dev").name, "parport2 at 0xD010");
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
    // The reading asked for at a tick is taken just before the next one, not at once.
    const auto asked = std::chrono::steady_clock::now();
    for (int i = 0; i < 100 && tree.io->lastRead.load() < asked; ++i)
        usleep(10'000);
    EXPECT_GE(tree.io->lastRead.load() - asked, std::chrono::milliseconds(30));
    // The closure's instant is the one the contact was first seen closed at.
    tree.io->status = 0x77;
    EXPECT_TRUE(tree.Until("Clock set from"));
    tree.io->status = 0x7F;
    EXPECT_EQ(tree.clock.closures.back(), tree.now.load().time_since_epoch().count());
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
    // The real claim of a file that is no port: refused, its descriptor and its timer gone.
    const auto open = [] {
        std::ifstream timers("/proc/self/timers");
        return std::distance(fs::directory_iterator("/proc/self/fd"), {}) * 1000 +
               std::count(std::istreambuf_iterator<char>(timers), {}, '\n');
    };
    const auto before = open();
    EXPECT_EQ(MakeSystemPpdev()->OpenAndClaim(tree.dir.Put("plain", "")), -ENOTTY);
    EXPECT_EQ(open(), before);
    // Fast reads near 13:54:30 by the wall clock; any other clock reads as early 1970.
    setenv("TZ", "UTC0", 1), tzset();
    EXPECT_TRUE(NearClosureNow([](clockid_t id) {
        return timespec{id == CLOCK_REALTIME ? 1773150870 : 0, 0};
    }));
}

TEST(OneLarkmoorPerPc, ShownOnItsSeatElsewhereSaidAndTakenOverNeverTwoNoneNorSilently) {
    using Is = Instance::Is;
    TempDir dir;
    const std::string folder = fs::path(dir.Put("lock", "")).parent_path();
    const Seat here{getuid(), ":0", ""};
    // As the package makes it: root's, in a sticky folder of the group (here nogroup).
    (void)!chown(folder.c_str(), 0, 65534), (void)!chown((folder + "/lock").c_str(), 0, 65534);
    fs::permissions(folder, fs::perms(03770));
    // Refused at once: a file for a folder, a folder others may change, a FIFO for the lock.
    dir.Put("open/x", ""), fs::permissions(dir.path / "open", fs::perms(0777));
    dir.Put("fifo/x", ""), mkfifo((dir.path / "fifo/lock").c_str(), 0660);
    for (const char* other : {"open/x", "open", "fifo"})
        EXPECT_EQ(FindInstance(dir.path / other, here).is, Is::kRefused) << other;
    Instance holder = FindInstance(folder, here);
    ASSERT_EQ(holder.is, Is::kFirst);
    EXPECT_TRUE(fcntl(holder.lock.Get(), F_GETFD) &
                FD_CLOEXEC); // or a program it starts holds the PC
    // Callers that write nothing are never waited for, and dropped: the oldest beyond what it
    // keeps at once, the others once their time is up.
    const std::string socketPath = folder + "/" + std::to_string(here.uid) + ".socket";
    sockaddr_un address{AF_UNIX, {}};
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    Requests requests(holder.listening.Get(), here);
    std::vector<int> silent(Requests::kMaxCallers + 1);
    const auto start = std::chrono::steady_clock::now();
    for (int& fd : silent)
        connect(fd = socket(AF_UNIX, SOCK_STREAM, 0), reinterpret_cast<sockaddr*>(&address),
                sizeof address),
            requests.Answer(start);
    EXPECT_TRUE(std::chrono::steady_clock::now() - start < std::chrono::seconds(1) &&
                recv(silent[0], nullptr, 0, MSG_DONTWAIT) == 0);
    requests.Answer(start + Requests::kRequestWait);
    EXPECT_FALSE(requests.Waiting());
    // Answering: a start on its seat has the window shown, with its token; a start on another
    // display, of another user than the holder's, or of another member of the group (whom the
    // socket must let in), is told where it runs and by whom.
    const std::string by = "for the user root (process " + std::to_string(getpid()) + ")";
    const auto startAs = [&](uid_t holderUid, uid_t uid, const char* display) {
        Requests answering(holder.listening.Get(), {holderUid, ":0", ""});
        int said[2];
        if (pipe(said) == 0 && fork() == 0) { // in the folder's group, and no other
            const gid_t group = 65534;
            (void)!setgroups(1, &group), (void)!setgid(group), (void)!setuid(uid);
            const Instance found = FindInstance(folder, {uid, display, "token"});
            const std::string text = std::to_string(static_cast<int>(found.is)) + found.message;
            _exit(write(said[1], text.data(), text.size()) > 0 ? 0 : 1);
        }
        close(said[1]);
        std::optional<std::string> token;
        for (pollfd done{said[0], POLLIN, 0}; poll(&done, 1, 1) == 0;)
            if (auto asked = answering.Answer(std::chrono::steady_clock::now()))
                token = asked;
        char text[4096] = {};
        (void)!read(said[0], text, sizeof text - 1), close(said[0]), wait(nullptr);
        return std::tuple(static_cast<Is>(text[0] - '0'), std::string(text + 1), token);
    };
    for (const auto& [holderUid, uid, display, is] :
         {std::tuple{here.uid, here.uid, ":0", Is::kShown},
          {here.uid, here.uid, ":1", Is::kElsewhere},
          {here.uid + 1, here.uid, ":0", Is::kElsewhere},
          {here.uid, 65534u, ":0", Is::kElsewhere}}) {
        SCOPED_TRACE(std::to_string(uid) + display);
        const auto [found, message, token] = startAs(holderUid, uid, display);
        EXPECT_EQ(
            std::pair(found, token),
            std::pair(is, is == Is::kShown ? std::optional<std::string>("token") : std::nullopt));
        EXPECT_TRUE(is == Is::kShown || Has(message, (by + ", on the display :0.").c_str()))
            << message;
    }
    // A socket another process put in the holder's place is not heard, whatever it answers.
    // (Here a child holding the holder's lock, which the kernel lists under the holder.)
    holder.listening.Reset();
    fs::remove(socketPath);
    const pid_t child = fork();
    if (child == 0) { // answers until it is killed
        Instance impostor{Is::kElsewhere, std::move(holder.lock)};
        TakeOver(impostor, folder);
        for (Requests answering(impostor.listening.Get(), here);; usleep(1000))
            answering.Answer(std::chrono::steady_clock::now());
    }
    while (!fs::exists(socketPath))
        usleep(1000);
    Instance other = FindInstance(folder, here);
    kill(child, SIGKILL), waitpid(child, nullptr, 0);
    EXPECT_TRUE(Has(other.message, (by + ", but it does not answer").c_str())) << other.message;
    // The last one waits, and takes over once the holder has ended.
    EXPECT_FALSE(TakeOver(other, folder));
    holder.lock.Reset();
    EXPECT_TRUE(TakeOver(other, folder) && other.is == Is::kFirst && other.listening);
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

// A set as the watcher makes it: started, then its outcome asked for every 5 ms, for at most 10 s.
ClockSet SetAndWait(Clock& clock) {
    ClockSet set = clock.SetTimeOfDay({}, "14:54:30", std::nullopt);
    for (int i = 0; set.state == ClockSet::State::kPending && i < 2000; ++i, usleep(5000))
        set = clock.Outcome().value_or(set);
    return set;
}

TEST(ClockHelper, NamesEachSetInTheLogBeforeMakingItAndItsOutcomeAfterUnderAnyLimitOrSignal) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: a mount namespace";
    TempDir dir;
    // The helper's system log: a socket of this test's own, on /dev/log in its mount namespace.
    const int log = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    (dir.path / "log").string().copy(address.sun_path, sizeof address.sun_path - 1);
    fs::create_directories(dir.path);
    ASSERT_EQ(bind(log, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    // Its lines in order, each of facility authpriv: the set named (hh:54:30 in Kolkata), the
    // set itself (its time_t, from the stub), and the outcome.
    const std::string line = "<8[0-7]>[^\n]*\\]: ",
                      named = line + "uid 0 sets the clock from [^\n]* (..:54:30) IST\n",
                      made = named + line + "set ([0-9]+)\n",
                      set = made + line +
                            "uid 0: clock set; hardware clock /dev/rtc0 not written: "
                            "Inappropriate ioctl for device \\(errno 25\\)\n",
                      nothing = line + "uid 0: nothing set: ";
    std::vector<std::tuple<std::string, std::string, std::string>> rows = {
        {"", "", set},
        {"ulimit -Sd 240;", "", set},
        {"", "env LARKMOOR_STUB_SET=kill", made},
        {"", "env LARKMOOR_STUB_SET=refuse",
         named + line + "set [0-9]+\n" + line +
             "uid 0: clock not set: Operation not permitted \\(errno 1\\)\n"},
        {"", "env LARKMOOR_STUB_SET=gone",
         named + nothing + "the window program could not be told \\(Broken pipe\\)\n"},
        {"", "env LD_PRELOAD=", nothing + "cap_sys_time is not in effect[^\n]*\n"},
        {"ulimit -d 240;", "", nothing + "the time zone /etc/localtime could not be loaded\n"},
    };
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    rows.erase(rows.begin() + 1), rows.pop_back(); // a sanitizer cannot start in 240 KiB
#else
    // Whatever the data limit, a set is named before it and its outcome logged after it.
    for (int limit = 200; limit < 320; limit += 4)
        rows.emplace_back("ulimit -d " + std::to_string(limit) + ";", "",
                          set + "|(?![\\s\\S]*\\]: set )[\\s\\S]*");
#endif
    for (const auto& [limit, env, expected] : rows) {
        // The helper as the window program runs it, in a mount namespace where the system's zone
        // is Asia/Kolkata (UTC+05:30) and /dev/rtc0 a plain file, given a zone of its own in TZ.
        dir.Put("helper",
                "#!/bin/sh\nexec unshare -m sh -c 'mount --bind /usr/share/zoneinfo/Asia/Kolkata "
                "/etc/localtime && mount -t tmpfs none /dev && touch /dev/rtc0 /dev/log && mount "
                "--bind " +
                    (dir.path / "log").string() + " /dev/log && " + limit +
                    " TZ=XXX-5:17 ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=" + CLOCK_STUB +
                    " exec " + env + " " + CLOCK_HELPER + "'\n",
                true);
        const ClockSet outcome = SetAndWait(*MakeHelperClock(dir.path / "helper"));
        std::string said;
        char datagram[1024];
        for (ssize_t got; (got = recv(log, datagram, sizeof datagram, 0)) > 0;)
            said.append(datagram, got) += '\n';
        std::smatch match;
        EXPECT_TRUE(std::regex_match(said, match, std::regex(expected))) << limit << env << said;
        EXPECT_EQ(std::regex_match(said, std::regex(set)), outcome.IsSet()) << limit << said;
        if (match.size() < 3 || !match[2].matched)
            continue;
        // The time named, set and shown is the one set, in Kolkata.
        const int there = (std::stoll(match[2]) + 19800) % 86400;
        EXPECT_EQ(match[1], TimeText({0, there / 3600, there / 60 % 60, there % 60}));
        EXPECT_TRUE(Has(outcome.IsSet() ? outcome.timeText : outcome.note, match.str(1).c_str()));
    }
    close(log);
}

TEST(ClockHelper, ItsOutcomeIsShownWithoutWaitingAndItsHardwareClockFollowsAdjtimeAndSummerTime) {
    TempDir dir;
    // A helper's script (nothing: no helper there; empty: not executable; "capable": one with a
    // capability this process's bounding set lacks), its result and note.
    const std::string capable = dir.Put("capable", "");
    fs::copy_file("/bin/true", capable, fs::copy_options::overwrite_existing);
    ASSERT_EQ(std::system(("setcap cap_sys_time+ep " + capable).c_str()), 0);
    const auto descriptors = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    // Started with SIGCHLD ignored, the program still waits for its helper; should the wait
    // fail all the same, nothing counts as set.
    std::signal(SIGCHLD, SIG_IGN);
    for (const auto& [script, ok, note] :
         std::initializer_list<std::tuple<const char*, bool, const char*>>{
             {nullptr, false, "is missing"},
             {"exit 0", true, ""},
             {"exit 0 # SIGCHLD ignored", false, "could not be waited for"},
             {"exit 5", false, "could not set the clock: Input/output error (errno 5)"},
             {"kill -9 $$", false, "signal 9 (Killed) before it set the clock: nothing was set"},
             {"echo 14:54:30 1; kill -9 $$", false,
              "signal 9 (Killed) after it began to set the clock: the clock may have been set"},
             {"echo 14:54:30 1; exec /bin/sleep 60", false,
              "within 2 s and was stopped after it began to set the clock: the clock may have "
              "been set to 14:54:30"},
             {"", false, "add this user to the group larkmoor"},
             {"capable", false, "bounding set of this session lacks cap_sys_time"}}) {
        const bool withCapability = script && std::string_view(script) == "capable";
        if (script && !withCapability)
            dir.Put("helper", std::string("#!/bin/sh\n") + script + "\n", *script);
        const fs::path helper = withCapability ? fs::path(capable) : dir.path / "helper";
        const auto clock = MakeHelperClock(helper, std::chrono::seconds(2));
        if (Has(script ? script : "", "ignored"))
            std::signal(SIGCHLD, SIG_IGN);
        const ClockSet set = SetAndWait(*clock);
        EXPECT_EQ(set.IsSet(), ok) << note;
        EXPECT_EQ(set.state == ClockSet::State::kMaybeSet,
                  Has(note, "may have been") || Has(note, "waited for"))
            << note;
        EXPECT_TRUE(Has(set.note, note)) << set.note;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), descriptors);
    // A helper that takes 3 s, reads the clock in the next hour and writes no hardware clock:
    // the time label goes on meanwhile, a closure then starts no second helper, and the hour it
    // set is the one shown when it ends, with the hardware clock left unwritten.
    const std::string runs = dir.Put("runs", "");
    dir.Put("helper",
            "#!/bin/sh\necho >>" + runs +
                "\nsleep 3\necho 15:54:30 1773183270\necho 15:54:30.032\nexit 141\n",
            true);
    fakes::FakePort port; // read open, then closed
    fakes::FakeControl lblTime, lblPort;
    const auto clock = MakeHelperClock(dir.path / "helper");
    fakes::FakeReadiness readiness;
    ClosureWatcher watcher(port, *clock, readiness, lblTime, lblPort);
    auto longest = std::chrono::steady_clock::duration{};
    for (int pass = 0; pass < 200 && lblPort.text != "Time Set"; ++pass, usleep(50'000)) {
        port.status = pass == 1 || pass > 3 ? 0 : 0x7F; // closed at once, then again
        const auto start = std::chrono::steady_clock::now();
        watcher.Timer1_Timer();
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
    }
    EXPECT_LT(longest, std::chrono::milliseconds(1500)); // the time label never stops for it
    EXPECT_TRUE(
        Has(lblPort.toolTip, " to 15:54:30.032.\nThe hardware clock /dev/rtc0 was not written"))
        << lblPort.toolTip;
    EXPECT_EQ(fs::file_size(runs), 1u);

    // A change of zone without tzset(): a reading of the clock notices it by itself.
    setenv("TZ", "XXX-5:17", 1);
    const ClockReading r = MakeHelperClock("")->Now();
    EXPECT_EQ((r.utcNs / 1'000'000'000 + 5 * 3600 + 17 * 60) % 86400,
              r.hour * 3600 + r.minute * 60 + r.second);
    // One set, to minute 54, second 30 of the closure's hour in its own offset, plus the time
    // since the closure on the monotonic clock (the wall clock stands still here): a closure
    // 30 ms before a reading at 12:00:00.010 CET, set 2 ms after it; at 00:30 UTC, the first
    // 02:30 of the autumn change (CEST); nothing when held 1.5 s after the reading, or given a
    // closure ahead or over a second old.
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1), tzset();
    const std::int64_t ms = 1'000'000, second = 1000 * ms, mono = 5 * second;
    for (const auto& [now, ageMs, heldMs, setTo] :
         std::initializer_list<std::tuple<timespec, int, int, std::int64_t>>{
             {{1773140400, 10 * ms}, 30, 2, 1773140070 * second + 32 * ms},
             {{1792888200, 0}, 0, 2, 1792889670 * second + 2 * ms},
             {{1773140399, 0}, 0, 1500, 0},
             {{1773140399, 0}, 1001, 2, 0},
             {{1773140399, 0}, -1, 2, 0}}) {
        std::vector<std::int64_t> sets;
        std::int64_t elapsed = -heldMs * ms; // the reading's, then the set's
        const ClockCalls calls{
            [&](clockid_t id) {
                if (id == CLOCK_BOOTTIME)
                    elapsed += heldMs * ms;
                return id == CLOCK_REALTIME   ? now
                       : id == CLOCK_BOOTTIME ? timespec{0, elapsed}
                                              : timespec{5, elapsed};
            },
            [&](const timespec& ts) { return sets.push_back(ts.tv_sec * second + ts.tv_nsec), 0; }};
        ClockMove move = PlanFiftyFourThirty(mono - ageMs * ms, calls);
        SetClock(move, calls);
        EXPECT_EQ(sets, std::vector<std::int64_t>(setTo != 0, setTo)) << now.tv_sec << " " << ageMs;
    }
    for (int error = 1; error < 134; ++error) // an errno never reads as one of the refusals
        EXPECT_EQ(ReadHelperStatus(HelperStatus(error, 0)).error, std::min(error, kLastErrno));
    EXPECT_EQ(std::tuple(ParseClosure("5000000000"), ParseClosure(""), ParseClosure("-1")),
              std::tuple(std::optional<std::int64_t>(5 * second), std::nullopt, std::nullopt));
    // Summer time: 01:30 UTC is 02:30 in winter, 03:30 in summer, in the window and in a
    // hardware clock in local time.
    EXPECT_EQ(std::tuple(LocalReading({1782869400, 0}).hour, RtcTime(1767231000, true).tm_hour,
                         RtcTime(1782869400, true).tm_hour),
              std::tuple(3, 2, 3));
    EXPECT_TRUE(AdjtimeSaysLocal(dir.Put("adjtime", "0.0 0 0.0\n0\nLOCAL")));
    EXPECT_FALSE(AdjtimeSaysLocal(dir.Put("adjtime", "LOCAL\nLOCAL\nUTC\nLOCAL\n")) ||
                 AdjtimeSaysLocal(dir.path / "none"));
}

TEST(LinuxReadiness, EachCauseHasItsOwnReasonAndATimeServiceIsKnownByItsProgram) {
    TempDir dir;
    // Revision 2 file capabilities: cap_sys_time=ep, =p, and all but it.
    const std::string ep("\1\0\0\2\0\0\0\2\0\0\0\0", 12), p("\0\0\0\2\0\0\0\2\0\0\0\0", 12),
        rest("\1\0\0\2\377\377\377\375\0\0\0\0", 12);
    const struct {
        bool limited;            // by the bounding set, no_new_privs and a user namespace
        int mode;                // of the helper; 0 for none
        const std::string* caps; // of the helper
        const char* process;     // a running one's name, program ("-": not shown) and owner
        bool systemd;
        std::vector<const char*> reasons;
        const char* service;
    } cases[] = {
        {false, 0750, &ep, "chronyd /usr/sbin/chronyd 1000", false, {}, "chronyd is running"},
        {false, 0, &ep, "ntpd - 0", true, {"is missing: reinstall"}, "ntpd is running"},
        {false, 0640, &ep, "systemd-timesyn - 0", true, {"may not be run"}, "timesyncd is running"},
        {false, 0750, &rest, "chronyd /home/u/chronyd 0", false, {"in effect"}, ""},
        {false, 0750, &p, "chronyd - 1000", true, {"in effect"}, "timesyncd is enabled"},
        {true, 0750, &ep, "x - 0", false, {"bounding set", "no_new_privs", "user namespace"}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.process);
        fs::remove_all(dir.path);
        char comm[32] = {}, exe[64] = {};
        unsigned owner = 0;
        std::sscanf(c.process, "%31s %63s %u", comm, exe, &owner);
        dir.Put("proc/self/comm", "chronyd\n"); // not a process number
        dir.Put("proc/42/comm", comm + std::string("\n"));
        if (exe != std::string("-"))
            fs::create_symlink(exe, dir.path / "proc/42/exe");
        (void)!chown((dir.path / "proc/42").c_str(), owner, 0);
        if (c.mode)
            fs::permissions(dir.Put("helper", ""), fs::perms(c.mode));
        int asks = 0; // of systemd's setting, which says it is enabled
        const ClockReadiness got = CheckLinuxReadiness(
            {dir.Put("status", c.limited ? "NoNewPrivs:\t1\nCapBnd:\t000001fffdffffff\n"
                                         : "Name:\tx\nNoNewPrivs:\t0\nCapBnd:\t000001ffffffffff\n"),
             dir.Put("uid_map", c.limited ? "0 1000 1\n" : "0 0 4294967295\n"), dir.path / "proc",
             dir.path / "helper", [&](auto&) { return *c.caps; },
             (dir.path / (c.systemd ? "" : "none")).string(),
             [&] { return ++asks, std::optional(true); }});
        const auto lines = std::ranges::count(got.missing, '\n') + !got.missing.empty();
        EXPECT_EQ(lines, c.reasons.size()) << got.missing;
        for (const char* reason : c.reasons)
            EXPECT_TRUE(Has(got.missing, reason)) << got.missing;
        // Nothing is asked where systemd does not run.
        EXPECT_TRUE(Has(got.timeService, c.service) && got.timeService.empty() == !*c.service &&
                    (c.systemd || asks == 0));
    }
    // The kernel's own view: this suite's bounding set lacks cap_sys_time (see above), and the
    // build's helper holds no file capability.
    ReadinessSources sources = SystemReadinessSources();
    sources.helper = CLOCK_HELPER;
    const std::string missing = CheckLinuxReadiness(sources).missing;
    EXPECT_TRUE(Has(missing, CLOCK_HELPER " lacks cap_sys_time") && Has(missing, "bounding set") &&
                !Has(missing, "namespace"));
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

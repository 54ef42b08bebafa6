// The Linux port over a fake /proc and /dev with the real watcher, the PC's one Larkmoor with real
// locks and sockets, and programs started from a path.
#include "linux_test.h"
#include "platform/linux/one_instance_linux.h"
#include "platform/linux/port_linux.h"
#include "platform/linux/programs_linux.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace larkmoor {
using namespace std::chrono_literals;

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
        Wait();
        ++claims;
        if (claimError)
            return -claimError;
        const int fd = open(path.c_str(), O_RDONLY);
        return fd < 0 ? -errno : fd;
    }
    int ReadStatus(int fd, std::uint8_t& s) override {
        Wait();
        lastRead = std::chrono::steady_clock::now();
        if (status == 0)
            fs::remove(fs::read_symlink("/proc/self/fd/" + std::to_string(fd)));
        s = status;
        return -readError;
    }
    void Close(int fd) override {
        ++closes;
        close(fd);
    }
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
    // parport1 at 0x378, found and read open.
    void StartReady() {
        AddPort("parport1", "888");
        Start();
        EXPECT_TRUE(Until(""));
    }
    void Later(int seconds) { now = now.load() + std::chrono::seconds(seconds); }
    // Watcher passes every 5 ms until the port label's tooltip holds `note` (empty: until the
    // label is hidden), for at most 3 s; true when it did.
    bool Until(const std::string& note) {
        for (int i = 0; i < 600; ++i) {
            watcher->Timer1_Timer();
            if (note.empty() ? !lblPort.visible : Has(lblPort.toolTip, note.c_str()))
                return true;
            usleep(5000);
        }
        return false;
    }
};

TEST(FirstParallelPort, TheOneAt0x378ElseTheLowestNumberedOneListed) {
    TempDir dir;
    dir.Put("sys/dev/parport/parport10/base-addr", "632");
    dir.Put("sys/dev/parport/parport2/base-addr", "53264");
    EXPECT_EQ(FindFirstPort(dir.path, "/dev").name, "parport2 at 0xD010");
    dir.Put("sys/dev/parport/parport11/base-addr", "888");
    EXPECT_EQ(FindFirstPort(dir.path, "/dev").name, "parport11 at 0x378");
}

// In use by another driver or refused: each said, and the port picked up again once its cause has
// gone. Removed (the kernel deletes the device, then the held descriptor reads 0, closed): said.
// The kernel test removes a real port and binds it again.
TEST(FirstParallelPort, InUseRefusedOrRemovedItSaysWhy) {
    PortTree tree;
    tree.AddPort("parport1", "888");
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
    tree.io->status = 0;
    EXPECT_TRUE(tree.Until("The kernel has removed parport1 at 0x378")) << tree.lblPort.toolTip;
}

TEST(FirstParallelPort, ReadsJustBeforeTheNextTickAndGivesTheClosuresFirstInstant) {
    PortTree tree;
    tree.StartReady();
    const auto asked = std::chrono::steady_clock::now();
    for (int i = 0; i < 100 && tree.io->lastRead.load() < asked; ++i)
        usleep(10'000);
    EXPECT_GE(tree.io->lastRead.load() - asked, 30ms);
    tree.io->status = 0x77;
    EXPECT_TRUE(tree.Until("Clock set from"));
    const std::optional<std::int64_t> closedAt = tree.now.load().time_since_epoch().count();
    EXPECT_EQ(tree.clock.closures, std::vector{closedAt}); // one set, for the one closure
}

// Reading or claiming: passes return at once, and "No Port" says what the port's thread waits
// for; a failed read lets go of the descriptor. Ended meanwhile, the port lets its thread go,
// which lets go of the device once the kernel answers.
TEST(FirstParallelPort, HeldUpInTheKernelItNeverHoldsUpATickNorTheEnd) {
    PortTree tree;
    tree.StartReady();
    for (const char* waitingFor :
         {"Waiting for the kernel to read", "(parport1 at 0x378): another"}) {
        SCOPED_TRACE(waitingFor);
        tree.io->stuck = true;
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 20; ++i)
            tree.watcher->Timer1_Timer();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
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
    EXPECT_EQ(std::pair(tree.io->claims.load(), tree.io->closes.load()), std::pair(3, 2));
    tree.io->stuck = true;
    tree.Later(1);
    EXPECT_TRUE(tree.Until("Waiting for the kernel to read"));
    const auto quit = std::chrono::steady_clock::now();
    tree.watcher.reset();
    tree.port.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - quit, 1s);
    tree.io->stuck = false;
    for (int i = 0; i < 300 && tree.io->closes == 2; ++i)
        usleep(10000);
    EXPECT_EQ(tree.io->closes, 3);
}

TEST(SystemPpdev, AClaimOfAFileThatIsNoPortIsRefusedAndLeavesNeitherDescriptorNorTimer) {
    TempDir dir;
    const auto open = [] {
        std::ifstream timers("/proc/self/timers");
        return std::distance(fs::directory_iterator("/proc/self/fd"), {}) * 1000 +
               std::count(std::istreambuf_iterator<char>(timers), {}, '\n');
    };
    const auto before = open();
    EXPECT_EQ(MakeSystemPpdev()->OpenAndClaim(dir.Put("plain", "")), -ENOTTY);
    EXPECT_EQ(open(), before);
}

// The PC's folder as the package makes it: root's, sticky, of a group (here nogroup), with the
// lock in it held by this process.
struct OneLarkmoorPerPc : ::testing::Test {
    using Is = Instance::Is;
    TempDir dir;
    const std::string folder = fs::path(dir.Put("pc/lock", "")).parent_path();
    const Seat here{getuid(), ":0", ""};
    const std::string socketPath = folder + "/" + std::to_string(here.uid) + ".socket";
    // How a start names the holder: this process, run as root.
    const std::string by = "for the user root (process " + std::to_string(getpid()) + ")";
    Instance holder;
    void SetUp() override {
        EXPECT_EQ(chown(folder.c_str(), 0, 65534), 0);
        EXPECT_EQ(chown((folder + "/lock").c_str(), 0, 65534), 0);
        fs::permissions(folder, fs::perms(03770));
        holder = FindInstance(folder, here);
        ASSERT_EQ(holder.is, Is::kFirst);
    }
    // A start by `uid` on `display`, in a process of its own in the folder's group and no other,
    // while the holder answers as `holderUid`: what it found and was told, and the token of a
    // start whose window is to be shown.
    std::tuple<Is, std::string, std::optional<std::string>> StartAs(uid_t holderUid, uid_t uid,
                                                                    const char* display) {
        Requests answering(holder.listening.Get(), {holderUid, ":0", ""});
        int said[2];
        EXPECT_EQ(pipe(said), 0);
        if (fork() == 0) {
            const gid_t group = 65534;
            const bool became = setgroups(1, &group) == 0 && setgid(group) == 0 && setuid(uid) == 0;
            const Instance found = FindInstance(folder, {uid, display, "token"});
            const std::string text = std::to_string(static_cast<int>(found.is)) + found.message;
            _exit(became && write(said[1], text.data(), text.size()) > 0 ? 0 : 1);
        }
        close(said[1]);
        std::optional<std::string> token;
        for (pollfd done{said[0], POLLIN, 0}; poll(&done, 1, 1) == 0;)
            if (auto asked = answering.Answer(std::chrono::steady_clock::now()))
                token = asked;
        char text[4096] = {};
        EXPECT_GT(read(said[0], text, sizeof text - 1), 0);
        close(said[0]);
        wait(nullptr);
        return {static_cast<Is>(text[0] - '0'), std::string(text + 1), token};
    }
};

TEST_F(OneLarkmoorPerPc, AFolderOthersMayChangeOrAFifoForTheLockIsRefusedAtOnce) {
    dir.Put("open/x", "");
    fs::permissions(dir.path / "open", fs::perms(0777));
    dir.Put("fifo/x", "");
    mkfifo((dir.path / "fifo/lock").c_str(), 0660);
    for (const char* other : {"open/x", "open", "fifo"})
        EXPECT_EQ(FindInstance(dir.path / other, here).is, Is::kRefused) << other;
    EXPECT_TRUE(fcntl(holder.lock.Get(), F_GETFD) & FD_CLOEXEC); // or a program it starts holds it
}

// The oldest beyond what it keeps at once is dropped first, the others once their time is up.
TEST_F(OneLarkmoorPerPc, CallersThatWriteNothingAreNeverWaitedForAndDropped) {
    sockaddr_un address{AF_UNIX, {}};
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    Requests requests(holder.listening.Get(), here);
    std::vector<Fd> silent;
    const auto start = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i <= Requests::kMaxCallers; ++i) {
        silent.emplace_back(socket(AF_UNIX, SOCK_STREAM, 0));
        connect(silent.back().Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        requests.Answer(start);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_EQ(recv(silent[0].Get(), nullptr, 0, MSG_DONTWAIT), 0);
    requests.Answer(start + Requests::kRequestWait);
    EXPECT_FALSE(requests.Waiting());
}

// A start on its seat has the window shown, with its token; a start on another display, of
// another user than the holder's, or of another member of the group (whom the socket must let
// in), is told where it runs and by whom.
TEST_F(OneLarkmoorPerPc, AStartOnItsSeatIsShownAndAnyOtherToldWhereItRuns) {
    for (const auto& [holderUid, uid, display, is] :
         {std::tuple{here.uid, here.uid, ":0", Is::kShown},
          {here.uid, here.uid, ":1", Is::kElsewhere},
          {here.uid + 1, here.uid, ":0", Is::kElsewhere},
          {here.uid, 65534u, ":0", Is::kElsewhere}}) {
        SCOPED_TRACE(std::to_string(uid) + display);
        const auto [found, message, token] = StartAs(holderUid, uid, display);
        EXPECT_EQ(found, is);
        EXPECT_EQ(token, is == Is::kShown ? std::optional<std::string>("token") : std::nullopt);
        EXPECT_TRUE(is == Is::kShown || Has(message, (by + ", on the display :0.").c_str()))
            << message;
    }
}

// A socket another process put in the holder's place is not heard, whatever it answers (here a
// child holding the holder's lock, which the kernel lists under the holder). The start waits,
// and takes over once the holder has ended.
TEST_F(OneLarkmoorPerPc, OnlyTheHolderIsHeardAndTheLastStartTakesOverOnceItEnds) {
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
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(Has(other.message, (by + ", but it does not answer").c_str())) << other.message;
    EXPECT_FALSE(TakeOver(other, folder));
    holder.lock.Reset();
    EXPECT_TRUE(TakeOver(other, folder));
    EXPECT_EQ(other.is, Is::kFirst);
    EXPECT_TRUE(other.listening);
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

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
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <signal.h>
#include <sys/prctl.h>
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
    std::unique_ptr<Port> port = MakeFirstParallelPort(
        {dir.path / "proc", dir.path / "dev", io, [this] { return now.load(); }});
    ClosureWatcher watcher{*port, clock, lblTime, lblPort};
    void AddPort(const std::string& name, const char* base) {
        dir.Put("proc/sys/dev/parport/" + name + "/base-addr", std::string(base) + "\t1656\n");
        dir.Put("dev/" + name, "");
    }
    void Later(int seconds) { now = now.load() + std::chrono::seconds(seconds); }
    // Watcher passes every 5 ms until the port label's tooltip holds `note` (empty: until the
    // label is hidden), for at most 3 s; true when it did.
    bool Until(const std::string& note) {
        for (int i = 0; i < 600; ++i, usleep(5000)) {
            watcher.Timer1_Timer();
            if (note.empty() ? !lblPort.visible : lblPort.toolTip.find(note) != std::string::npos)
                return true;
        }
        return false;
    }
};

TEST(FirstParallelPort, WithNoneAt0x378TheLowestListed) {
    TempDir dir;
    dir.Put("proc/sys/dev/parport/parport10/base-addr", "632");
    dir.Put("proc/sys/dev/parport/parport2/base-addr", "53264");
    EXPECT_EQ(FindFirstPort(dir.path / "proc", "/dev").name, "parport2 at 0xd010");
}

TEST(FirstParallelPort, LeftAloneInUseLetGoWhenGoneOrFailingPickedUpAgainTicksNeverWait) {
    PortTree tree;
    tree.AddPort("parport0", "632");
    tree.AddPort("parport1", "888"); // the one at 0x378 first
    tree.dir.Put("proc/sys/dev/parport/parport1/devices/active", "lp0\n");
    tree.Later(5); // past a look made before the port was there
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
            tree.watcher.Timer1_Timer();
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

TEST(LinuxClock, TheHelperRefusesEachOutcomeIsShownReadingsFollowTheZoneRtcAsAdjtimeSays) {
    TempDir dir;
    const int said = open(dir.Put("said", "").c_str(), O_WRONLY | O_CLOEXEC);
    const pid_t child = fork();
    if (child == 0) {
        if (!DropTimeCapability() || dup2(said, STDOUT_FILENO) != STDOUT_FILENO)
            _exit(100); // never run a helper that could set the clock
        char* argv[] = {const_cast<char*>(CLOCK_HELPER), nullptr};
        char* envp[] = {const_cast<char*>("TZ=XXX-5:17"), nullptr}; // an offset no zone has
        execve(CLOCK_HELPER, argv, envp);
        _exit(101);
    }
    close(said);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), EPERM); // the status that "exit 1" below stands for
    // It aims at hh:54:30 of the hour in the system's zone, whatever TZ it was given.
    unsetenv("TZ"), tzset();
    std::string text;
    std::time_t target = 0;
    ASSERT_TRUE(std::ifstream(dir.path / "said") >> text >> target);
    EXPECT_EQ(TimeText(LocalReading({target, 0})), text.substr(0, 2) + ":54:30");

    // A helper's script (nothing: no helper there; empty: not executable), its result and note.
    for (const auto& [script, ok, note] :
         std::initializer_list<std::tuple<const char*, bool, const char*>>{
             {nullptr, false, "is missing"},
             {"exit 0", true, ""},
             {"exit 1", false, "lacks cap_sys_time"},
             {"exit 5", false, "could not set the clock: Input/output error (errno 5)"},
             {"exit 141", true, "/dev/rtc0 was not written: Permission denied"},
             {"kill -9 $$", false, "signal 9"},
             {"exec /bin/sleep 10", false, "did not finish within 2000 ms"},
             {"", false, "add this user to the group larkmoor"}}) {
        if (script)
            dir.Put("helper", std::string("#!/bin/sh\n") + script + "\n", *script);
        const ClockSet set = MakeHelperClock(dir.path / "helper")->SetTimeOfDay({}, "14:54:30");
        EXPECT_EQ(set.ok, ok) << note;
        EXPECT_NE(set.note.find(note), std::string::npos) << set.note;
    }
    // A helper that read the clock in the next hour: the hour it set is the one shown.
    dir.Put("helper", "#!/bin/sh\necho 15:54:30 1773183270\n", true);
    fakes::FakePort port; // read open, then closed
    fakes::FakeControl lblTime, lblPort;
    const auto clock = MakeHelperClock(dir.path / "helper");
    ClosureWatcher watcher(port, *clock, lblTime, lblPort);
    watcher.Timer1_Timer();
    port.status = 0;
    watcher.Timer1_Timer();
    EXPECT_NE(lblPort.toolTip.find(" to 15:54:30.\n"), std::string::npos) << lblPort.toolTip;

    // A change of zone without tzset(): a reading of the clock notices it by itself.
    setenv("TZ", "XXX-5:17", 1);
    const ClockReading r = MakeHelperClock("")->Now();
    EXPECT_EQ((r.utcNs / 1'000'000'000 + 5 * 3600 + 17 * 60) % 86400,
              r.hour * 3600 + r.minute * 60 + r.second);
    // 2026-03-10 22:54:30 UTC, 04:11:30 the next day in that zone
    const rtc_time utc = RtcTime(1773183270, false), local = RtcTime(1773183270, true);
    EXPECT_EQ(std::tuple(utc.tm_year, utc.tm_mon, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                         local.tm_mday, local.tm_hour, local.tm_min),
              std::tuple(126, 2, 10, 22, 54, 30, 11, 4, 11));
    EXPECT_TRUE(AdjtimeSaysLocal(dir.Put("adjtime", "0.0 0 0.0\n0\nLOCAL")));
    EXPECT_FALSE(AdjtimeSaysLocal(dir.Put("adjtime", "LOCAL\nLOCAL\nUTC\nLOCAL\n")));
    // Never a real RTC: a plain file refuses the request.
    EXPECT_EQ(WriteRtc(dir.Put("rtc", ""), utc), ENOTTY);
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

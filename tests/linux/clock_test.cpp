// The Linux clock: the helper as the window program runs it (never able to set this machine's
// clock), its outcomes, the set's arithmetic and the hardware clock; and the readiness checks.
#include "linux_test.h"
#include "platform/linux/clock_linux.h"
#include "platform/linux/handles_linux.h"
#include "platform/linux/readiness_linux.h"
#include "platform/linux/set_clock.h"

#include <linux/capability.h>
#include <regex>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <thread>

namespace larkmoor {

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
    d.effective &= ~mask;
    d.permitted &= ~mask;
    d.inheritable &= ~mask;
    syscall(SYS_capset, &header, data);
    return syscall(SYS_capget, &header, data) == 0 &&
           ((d.effective | d.permitted | d.inheritable) & mask) == 0 &&
           prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0) == 0 &&
           prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_IS_SET, CAP_SYS_TIME, 0, 0) == 0;
}

// No test may set this machine's clock: this process, and every program it starts, loses
// CAP_SYS_TIME before any test runs, or the tests do not run at all.
[[maybe_unused]] const bool kWithoutTimeCapability = [] {
    if (!DropTimeCapability())
        std::abort();
    return true;
}();

// A set as the watcher makes it: started, then its outcome asked for every 5 ms, for at most 10 s.
ClockSet SetAndWait(Clock& clock) {
    ClockSet set = clock.SetTimeOfDay({}, "14:54:30", std::nullopt);
    for (int i = 0; set.state == ClockSet::State::kPending && i < 2000; ++i) {
        usleep(5000);
        set = clock.Outcome().value_or(set);
    }
    return set;
}

TEST(ClockHelper, NamesEachSetInTheLogBeforeMakingItAndItsOutcomeAfterUnderAnyLimitOrSignal) {
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: a mount namespace";
    TempDir dir;
    // The helper's system log: a socket of this test's own, on /dev/log in its mount namespace.
    const Fd log(socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    sockaddr_un address{AF_UNIX, {}};
    (dir.path / "log").string().copy(address.sun_path, sizeof address.sun_path - 1);
    fs::create_directories(dir.path);
    ASSERT_EQ(bind(log.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
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
    // A sanitizer cannot start in 240 KiB.
    rows.erase(rows.begin() + 1);
    rows.pop_back();
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
        for (ssize_t got; (got = recv(log.Get(), datagram, sizeof datagram, 0)) > 0;)
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
}

TEST(ClockHelper, ItsOutcomeSaysWhatWasSetOrWhyNothingWasOrThatItMayHaveBeen) {
    TempDir dir;
    // "capable": a helper with a capability this process's bounding set lacks.
    const std::string capable = dir.Put("capable", "");
    fs::copy_file("/bin/true", capable, fs::copy_options::overwrite_existing);
    ASSERT_EQ(std::system(("setcap cap_sys_time+ep " + capable).c_str()), 0);
    const auto descriptors = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    // Started with SIGCHLD ignored, the program still waits for its helper; should the wait
    // fail all the same, nothing counts as set.
    std::signal(SIGCHLD, SIG_IGN);
    // The helper's script (nothing: no helper there; empty: not executable), its outcome and note.
    using State = ClockSet::State;
    for (const auto& [script, state, note] :
         std::initializer_list<std::tuple<const char*, State, const char*>>{
             {nullptr, State::kNotSet, "is missing"},
             {"exit 0", State::kSet, ""},
             {"exit 0 # SIGCHLD ignored", State::kMaybeSet, "could not be waited for"},
             {"exit 5", State::kNotSet, "could not set the clock: Input/output error (errno 5)"},
             {"kill -9 $$", State::kNotSet,
              "signal 9 (Killed) before it set the clock: nothing was set"},
             {"echo 14:54:30 1; kill -9 $$", State::kMaybeSet,
              "signal 9 (Killed) after it began to set the clock: the clock may have been set"},
             {"echo 14:54:30 1; exec /bin/sleep 60", State::kMaybeSet,
              "within 2 s and was stopped after it began to set the clock: the clock may have "
              "been set to 14:54:30"},
             {"", State::kNotSet, "add this user to the group larkmoor"},
             {"capable", State::kNotSet, "bounding set of this session lacks cap_sys_time"}}) {
        SCOPED_TRACE(note);
        const bool withCapability = script && std::string_view(script) == "capable";
        if (script && !withCapability)
            dir.Put("helper", std::string("#!/bin/sh\n") + script + "\n", *script);
        const auto clock = MakeHelperClock(withCapability ? fs::path(capable) : dir.path / "helper",
                                           std::chrono::seconds(2));
        if (Has(script ? script : "", "ignored"))
            std::signal(SIGCHLD, SIG_IGN);
        const ClockSet set = SetAndWait(*clock);
        EXPECT_EQ(set.state, state);
        EXPECT_TRUE(Has(set.note, note)) << set.note;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator("/proc/self/fd"), {}), descriptors);
}

// A helper that takes 3 s, reads the clock in the next hour and writes no hardware clock: the
// time label goes on meanwhile, a closure then starts no second helper, and the hour it set is
// the one shown when it ends, with the hardware clock left unwritten.
TEST(ClockHelper, TheWatcherGoesOnWhileItRunsAndShowsTheHourItSet) {
    TempDir dir;
    const std::string runs = dir.Put("runs", "");
    dir.Put("helper",
            "#!/bin/sh\necho >>" + runs +
                "\nsleep 3\necho 15:54:30 1773183270\necho 15:54:30.032\nexit 141\n",
            true);
    fakes::FakePort port;
    fakes::FakeControl lblTime, lblPort;
    const auto clock = MakeHelperClock(dir.path / "helper");
    fakes::FakeReadiness readiness;
    ClosureWatcher watcher(port, *clock, readiness, lblTime, lblPort);
    auto longest = std::chrono::steady_clock::duration{};
    for (int pass = 0; pass < 200 && lblPort.text != "Time Set"; ++pass) {
        port.status = pass == 1 || pass > 3 ? 0 : 0x7F; // closed at once, then again
        const auto start = std::chrono::steady_clock::now();
        watcher.Timer1_Timer();
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
        usleep(50'000);
    }
    EXPECT_LT(longest, std::chrono::milliseconds(1500));
    EXPECT_TRUE(
        Has(lblPort.toolTip, " to 15:54:30.032.\nThe hardware clock /dev/rtc0 was not written"))
        << lblPort.toolTip;
    EXPECT_EQ(fs::file_size(runs), 1u);
}

// To minute 54, second 30 of the closure's hour in its own offset, plus the time since the closure
// on the monotonic clock (the wall clock stands still here): a closure 30 ms before a reading at
// 12:00:00.010 CET, set 2 ms after it; at 00:30 UTC, the first 02:30 of the autumn change (CEST);
// nothing when held 1.5 s after the reading, or given a closure ahead or over a second old.
TEST(ClockHelper, SetsHh5430OfTheClosuresHourPlusTheTimeSinceAndNothingWhenLate) {
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    const std::int64_t ms = 1'000'000, second = 1000 * ms, mono = 5 * second;
    for (const auto& [now, ageMs, heldMs, setTo] :
         std::initializer_list<std::tuple<timespec, int, int, std::int64_t>>{
             {{1773140400, 10 * ms}, 30, 2, 1773140070 * second + 32 * ms},
             {{1792888200, 0}, 0, 2, 1792889670 * second + 2 * ms},
             {{1773140399, 0}, 0, 1500, 0},
             {{1773140399, 0}, 1001, 2, 0},
             {{1773140399, 0}, -1, 2, 0}}) {
        SCOPED_TRACE(std::to_string(now.tv_sec) + " " + std::to_string(ageMs));
        std::vector<std::int64_t> sets;
        std::int64_t elapsed = -heldMs * ms; // the reading's, then the set's
        const ClockCalls calls{[&](clockid_t id) {
                                   if (id == CLOCK_BOOTTIME)
                                       elapsed += heldMs * ms;
                                   return id == CLOCK_REALTIME   ? now
                                          : id == CLOCK_BOOTTIME ? timespec{0, elapsed}
                                                                 : timespec{5, elapsed};
                               },
                               [&](const timespec& ts) {
                                   sets.push_back(ts.tv_sec * second + ts.tv_nsec);
                                   return 0;
                               }};
        ClockMove move = PlanFiftyFourThirty(mono - ageMs * ms, calls);
        SetClock(move, calls);
        EXPECT_EQ(sets, std::vector<std::int64_t>(setTo != 0, setTo));
    }
    EXPECT_EQ(ParseClosure("5000000000"), 5 * second);
    EXPECT_EQ(ParseClosure(""), std::nullopt);
    EXPECT_EQ(ParseClosure("-1"), std::nullopt);
    for (int error = 1; error < 134; ++error) // an errno never reads as one of the refusals
        EXPECT_EQ(ReadHelperStatus(HelperStatus(error, 0)).error, std::min(error, kLastErrno));
}

// 01:30 UTC is 02:30 in winter, 03:30 in summer, in the window and in a hardware clock in local
// time; a change of zone without tzset() is noticed by a reading of the clock by itself.
TEST(ClockHelper, TheHourFollowsTheZoneAndSummerTimeAndTheHardwareClockAdjtime) {
    setenv("TZ", "XXX-5:17", 1);
    const ClockReading r = MakeHelperClock("")->Now();
    EXPECT_EQ((r.utcNs / 1'000'000'000 + 5 * 3600 + 17 * 60) % 86400,
              r.hour * 3600 + r.minute * 60 + r.second);
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    EXPECT_EQ(LocalReading({1782869400, 0}).hour, 3);
    EXPECT_EQ(RtcTime(1767231000, true).tm_hour, 2);
    EXPECT_EQ(RtcTime(1782869400, true).tm_hour, 3);
    TempDir dir;
    EXPECT_TRUE(AdjtimeSaysLocal(dir.Put("adjtime", "0.0 0 0.0\n0\nLOCAL")));
    EXPECT_FALSE(AdjtimeSaysLocal(dir.Put("adjtime", "LOCAL\nLOCAL\nUTC\nLOCAL\n")));
    EXPECT_FALSE(AdjtimeSaysLocal(dir.path / "none"));
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
        EXPECT_EQ(chown((dir.path / "proc/42").c_str(), owner, 0), 0);
        if (c.mode)
            fs::permissions(dir.Put("helper", ""), fs::perms(c.mode));
        int asks = 0; // of systemd's setting, which says it is enabled
        const ClockReadiness got = CheckLinuxReadiness(
            {dir.Put("status", c.limited ? "NoNewPrivs:\t1\nCapBnd:\t000001fffdffffff\n"
                                         : "Name:\tx\nNoNewPrivs:\t0\nCapBnd:\t000001ffffffffff\n"),
             dir.Put("uid_map", c.limited ? "0 1000 1\n" : "0 0 4294967295\n"), dir.path / "proc",
             dir.path / "helper", [&](auto&) { return *c.caps; },
             (dir.path / (c.systemd ? "" : "none")).string(),
             [&] { return std::optional(++asks > 0); }});
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

} // namespace larkmoor

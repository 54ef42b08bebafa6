#include "clock_linux.h"

#include "errno_text.h"
#include "set_clock.h"

#include <cassert>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace larkmoor {

ClockReading LocalReading(const timespec& ts) {
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    return {ts.tv_sec * std::int64_t{1'000'000'000} + ts.tv_nsec, local.tm_hour, local.tm_min,
            local.tm_sec, static_cast<std::int32_t>(ts.tv_nsec)};
}

std::string FindClockHelper() {
    std::error_code error;
    const auto beside =
        std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / kHelperName;
    if (!error && std::filesystem::is_regular_file(beside, error))
        return beside.string();
    return kInstalledHelper;
}

namespace {

// Runs `path` and waits up to kHelperTimeoutMs for it: its wait status and what it printed, or
// the reason it could not be run or did not end in time.
struct HelperRun {
    int spawnError = 0;
    bool ended = false;
    int status = 0;
    std::string output{};
    int waitError = 0; // the helper was started but could not be waited for
};
HelperRun RunHelper(const std::string& path) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return {errno};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    char* envp[] = {nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (error != 0) {
        close(out[0]);
        return {error};
    }
    HelperRun run{0, true};
    using Steady = std::chrono::steady_clock;
    const auto deadline = Steady::now() + std::chrono::milliseconds(kHelperTimeoutMs);
    for (;;) {
        const pid_t ended = waitpid(pid, &run.status, WNOHANG);
        if (ended == pid)
            break;
        if (ended < 0) {
            run.waitError = errno;
            break;
        }
        if (Steady::now() > deadline) {
            kill(pid, SIGKILL);
            std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
            close(out[0]);
            return {0, false};
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    // The helper has ended: its one line is in the pipe, or nothing is. The read does not wait,
    // so a process that it left behind holding the pipe cannot hold up the window.
    char text[64] = {};
    if (fcntl(out[0], F_SETFL, O_NONBLOCK) == 0 && read(out[0], text, sizeof text - 1) > 0)
        run.output = text;
    close(out[0]);
    return run;
}

ClockSet FromHelper(const std::string& helper, const HelperRun& run) {
    const std::string name = "The clock helper " + helper;
    if (run.spawnError == ENOENT)
        return {false, name + " is missing: reinstall the package."};
    if (run.spawnError == EACCES)
        return {false, name + " cannot be run (" + Errno(run.spawnError) +
                           "): add this user to the group larkmoor and log in again."};
    // The kernel refuses to start a program whose file capability it may not grant.
    if (run.spawnError == EPERM)
        return {false, name + " cannot be run (" + Errno(run.spawnError) +
                           "): the capability bounding set of this session lacks cap_sys_time "
                           "(a container, or a service or login that drops it), so the kernel "
                           "refuses to start a program that holds it. Start Larkmoor from a "
                           "login that keeps cap_sys_time."};
    if (run.spawnError != 0)
        return {false, name + " cannot be started: " + Errno(run.spawnError) + "."};
    if (!run.ended)
        return {false, name + " did not finish within " + std::to_string(kHelperTimeoutMs) +
                           " ms and was stopped; the clock may have been set."};
    if (run.waitError != 0)
        return {false, name + " could not be waited for (" + Errno(run.waitError) +
                           "): whether it set the clock is not known."};
    if (!WIFEXITED(run.status))
        return {false, name + " ended on signal " + std::to_string(WTERMSIG(run.status)) + "."};

    if (WEXITSTATUS(run.status) == kZoneNotLoaded)
        return {false, name + " set nothing: it could not load the system's time zone " +
                           kSystemZone + ". Check the zone (timedatectl) and the limits " +
                           "(ulimit -H) this program was started with."};
    const HelperOutcome outcome = ReadHelperStatus(WEXITSTATUS(run.status));
    if (!outcome.set && outcome.error == EPERM)
        return {false, name + " lacks cap_sys_time: reinstall the package (in a build tree, "
                              "see the README)."};
    if (!outcome.set)
        return {false, name + " could not set the clock: " + Errno(outcome.error) + "."};
    // The helper reads the clock itself, so near the turn of an hour it may set another hour than
    // the one asked for; the time it says it set is the one shown.
    const std::string timeText = run.output.substr(0, 8);
    const std::string setTo = ParseTimeText(timeText) ? timeText : "";
    if (outcome.error == 0)
        return {true, "", setTo};
    std::string note = std::string("The hardware clock ") + kRtcDevice +
                       " was not written: " + Errno(outcome.error) +
                       "; the time set is lost at the next restart.";
    if (outcome.error == EACCES)
        note += " Reinstall the package, whose rule lets the clock helper alone open it.";
    return {true, note, setTo};
}

class HelperClock : public Clock {
  public:
    explicit HelperClock(std::string helper) : helper_(std::move(helper)) {
        // The clock waits for its helper. Whoever started this program may have left SIGCHLD
        // ignored, which the kernel takes as leave to reap children unasked: the wait would fail.
        std::signal(SIGCHLD, SIG_DFL);
    }
    ClockReading Now() override {
        tzset(); // localtime_r alone never notices a change of the system's zone
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        return LocalReading(ts);
    }
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view timeText) override {
        if (!TargetUtcNs(basis, timeText))
            return {false, "Not a time of day: " + std::string(timeText)};
        // The helper reads the clock itself and sets minute 54, second 30 of that hour.
        assert(timeText.substr(3) == "54:30");
        return FromHelper(helper_, RunHelper(helper_));
    }

  private:
    std::string helper_;
};

} // namespace

std::unique_ptr<Clock> MakeHelperClock(std::string helper) {
    return std::make_unique<HelperClock>(std::move(helper));
}

std::unique_ptr<Clock> MakeSystemClock() {
    return MakeHelperClock(FindClockHelper());
}

} // namespace larkmoor

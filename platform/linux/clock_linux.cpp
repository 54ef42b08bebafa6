#include "clock_linux.h"

#include "errno_text.h"
#include "handles_linux.h"
#include "set_clock.h"

#include <cassert>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace larkmoor {

std::string FindClockHelper() {
    std::error_code error;
    const auto beside =
        std::filesystem::read_symlink("/proc/self/exe", error).parent_path() / kHelperName;
    if (!error && std::filesystem::is_regular_file(beside, error))
        return beside.string();
    return kInstalledHelper;
}

std::string SetTimeText(const std::string& output) {
    const std::size_t second = output.find('\n') + 1;
    const std::string exact = second > 0 ? output.substr(second, 12) : "";
    if (exact.size() == 12 && exact[8] == '.' && ParseTimeText(exact.substr(0, 8)))
        return exact;
    const std::string announced = output.substr(0, 8);
    return ParseTimeText(announced) ? announced : "";
}

namespace {

// One run of the helper: how it was started, and how it ended.
struct HelperRun {
    int spawnError = 0;
    bool stopped = false; // ended by this program, when it ran too long
    int status = 0;
    std::string output{};
    int waitError = 0; // the helper was started but could not be waited for
};

// Starts `path`, given `argument` if any, with its output on a pipe: its process id and the pipe's
// read end, which does not wait; or minus the errno of the failure. This program keeps no write
// end, which would lose one descriptor per set.
int StartHelper(const std::string& path, const std::string& argument, pid_t& pid, Fd& out) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0)
        return -errno;
    Fd readEnd(pipeEnds[0]);
    const Fd writeEnd(pipeEnds[1]);
    fcntl(readEnd.Get(), F_SETFL, O_NONBLOCK); // cannot fail on a pipe of this program's own
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), STDOUT_FILENO);
    char* argv[] = {const_cast<char*>(path.c_str()),
                    argument.empty() ? nullptr : const_cast<char*>(argument.c_str()), nullptr};
    char* envp[] = {nullptr};
    const int error = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return -error;
    out = std::move(readEnd);
    return 0;
}

// "the clock may have been set to 14:54:30", or that it was not, from what the helper said
// before it was ended.
std::string WhatIsKnown(const std::string& output) {
    const std::string timeText = output.substr(0, 8);
    if (!ParseTimeText(timeText))
        return "before it set the clock: nothing was set.";
    return "after it began to set the clock: the clock may have been set to " + timeText +
           ", and the hardware clock may not have been written. Check the time, and the "
           "system log (journalctl -t " +
           kHelperName + ").";
}

// Why the helper set nothing, for each status by which it says so; nothing for other statuses.
std::optional<std::string> WhyNothingWasSet(int status) {
    const HelperRefusal* refusal = FindRefusal(status);
    return refusal ? std::optional<std::string>(refusal->told) : std::nullopt;
}

ClockSet FromHelper(const std::string& helper, std::chrono::seconds limit, const HelperRun& run) {
    const std::string name = "The clock helper " + helper;
    if (run.spawnError == ENOENT)
        return ClockSet::NotSet(name + " is missing: reinstall the package.");
    if (run.spawnError == EACCES)
        return ClockSet::NotSet(name + " cannot be run (" + Errno(run.spawnError) +
                                "): add this user to the group larkmoor and log in again.");
    // The kernel refuses to start a program whose file capability it may not grant.
    if (run.spawnError == EPERM)
        return ClockSet::NotSet(name + " cannot be run (" + Errno(run.spawnError) +
                                "): the capability bounding set of this session lacks cap_sys_time "
                                "(a container, or a service or login that drops it), so the kernel "
                                "refuses to start a program that holds it. Start Larkmoor from a "
                                "login that keeps cap_sys_time.");
    if (run.spawnError != 0)
        return ClockSet::NotSet(name + " cannot be started: " + Errno(run.spawnError) + ".");
    if (run.waitError != 0)
        return ClockSet::MaybeSet(name + " could not be waited for (" + Errno(run.waitError) +
                                  "): whether it set the clock is not known.");
    // Ended before it said how its set went: it may have set the clock once it had named the set.
    const auto unknown =
        ParseTimeText(run.output.substr(0, 8)) ? ClockSet::MaybeSet : ClockSet::NotSet;
    if (run.stopped)
        return unknown(name + " did not finish within " + std::to_string(limit.count()) +
                       " s and was stopped " + WhatIsKnown(run.output));
    if (!WIFEXITED(run.status))
        return unknown(name + " ended on signal " + std::to_string(WTERMSIG(run.status)) + " (" +
                       strsignal(WTERMSIG(run.status)) + ") " + WhatIsKnown(run.output));

    const int status = WEXITSTATUS(run.status);
    if (const auto why = WhyNothingWasSet(status))
        return ClockSet::NotSet(name + " set nothing: " + *why);
    const HelperOutcome outcome = ReadHelperStatus(status);
    if (!outcome.set)
        return ClockSet::NotSet(name + " could not set the clock: " + Errno(outcome.error) + ".");
    const std::string setTo = SetTimeText(run.output);
    if (outcome.error == 0)
        return ClockSet::Set(setTo);
    std::string note = std::string("The hardware clock ") + kRtcDevice +
                       " was not written: " + Errno(outcome.error) +
                       "; the time set is lost at the next restart.";
    if (outcome.error == EACCES)
        note += " Reinstall the package, whose rule lets the clock helper alone open it.";
    return ClockSet::Set(setTo, note);
}

class HelperClock : public Clock {
  public:
    HelperClock(std::string helper, std::chrono::seconds limit)
        : helper_(std::move(helper)), limit_(limit) {
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
    ClockSet SetTimeOfDay(const ClockReading& basis, std::string_view timeText,
                          std::optional<std::int64_t> closedAtNs) override {
        if (!TargetUtcNs(basis, timeText))
            return ClockSet::NotSet("Not a time of day: " + std::string(timeText));
        // The helper reads the clock itself and sets minute 54, second 30 of the closure's hour
        // plus the time since the closure, which it measures itself.
        assert(timeText.substr(3) == "54:30");
        assert(!out_); // one set at a time
        const std::string closure = closedAtNs ? std::to_string(*closedAtNs) : "";
        run_ = {-StartHelper(helper_, closure, pid_, out_)};
        if (run_.spawnError != 0)
            return FromHelper(helper_, limit_, run_);
        started_ = std::chrono::steady_clock::now();
        return ClockSet::Pending();
    }
    std::optional<ClockSet> Outcome() override {
        if (!out_)
            return std::nullopt;
        ReadOutput();
        const pid_t ended = waitpid(pid_, &run_.status, WNOHANG);
        if (ended == 0) {
            if (!run_.stopped && std::chrono::steady_clock::now() - started_ > limit_) {
                kill(pid_, SIGKILL);
                run_.stopped = true;
            }
            return std::nullopt;
        }
        if (ended < 0)
            run_.waitError = errno;
        ReadOutput(); // what it wrote just before it ended
        out_.Reset();
        return FromHelper(helper_, limit_, run_);
    }

  private:
    void ReadOutput() {
        char text[64];
        const ssize_t got = read(out_.Get(), text, sizeof text);
        if (got > 0 && run_.output.size() < sizeof text)
            run_.output.append(text, got);
    }

    std::string helper_;
    std::chrono::seconds limit_;
    HelperRun run_{};
    pid_t pid_ = 0;
    Fd out_; // the read end of the running helper's output
    std::chrono::steady_clock::time_point started_{};
};

} // namespace

std::unique_ptr<Clock> MakeHelperClock(std::string helper, std::chrono::seconds limit) {
    return std::make_unique<HelperClock>(std::move(helper), limit);
}

std::unique_ptr<Clock> MakeSystemClock() {
    return MakeHelperClock(FindClockHelper());
}

} // namespace larkmoor

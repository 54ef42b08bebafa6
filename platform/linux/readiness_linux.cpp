#include "readiness_linux.h"

#include "clock_linux.h"
#include "errno_text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace larkmoor {

namespace {

constexpr int kCapSysTime = 25;

// The value of "Name:" in /proc/self/status, or empty.
std::string StatusField(const std::string& statusFile, const std::string& name) {
    std::ifstream in(statusFile);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(name + ":", 0) == 0)
            return line.substr(line.find_first_not_of(" \t", name.size() + 1));
    return "";
}

std::optional<std::string> CapabilityAttribute(const std::string& path) {
    char value[64];
    const ssize_t size = getxattr(path.c_str(), "security.capability", value, sizeof value);
    if (size < 0)
        return std::nullopt;
    return std::string(value, static_cast<std::size_t>(size));
}

// Why the clock helper could not set the clock if run now; empty when it could.
std::string HelperMissing(const ReadinessSources& sources) {
    const std::string name = "The clock helper " + sources.helper;
    // Its folder is root:larkmoor 0750: outside the group it cannot even be seen.
    if (access(sources.helper.c_str(), F_OK) != 0)
        return errno == ENOENT ? name + " is missing: reinstall the package."
                               : name + " may not be run by this user (" + Errno(errno) +
                                     "): add this user to the group larkmoor and log in again.";
    std::string why;
    const auto add = [&](const std::string& line) { why += (why.empty() ? "" : "\n") + line; };
    if (access(sources.helper.c_str(), X_OK) != 0)
        add(name + " may not be run by this user (" + Errno(errno) +
            "): add this user to the group larkmoor and log in again.");
    const auto attribute = sources.capabilities(sources.helper);
    if (!attribute || !PermitsSysTime(*attribute))
        add(name + " lacks cap_sys_time in effect (cap_sys_time=ep): reinstall the package (in a "
                   "build tree, see the README).");
    struct statvfs mount {};
    if (statvfs(sources.helper.c_str(), &mount) == 0 && (mount.f_flag & ST_NOSUID))
        add(name + " is on a file system mounted nosuid, where the kernel grants no file "
                   "capability: install it where nosuid is not set.");
    return why;
}

// Why this process's children are granted no cap_sys_time; empty when they are.
std::string SessionMissing(const std::string& statusFile, const std::string& uidMap) {
    std::string why;
    const std::string bounding = StatusField(statusFile, "CapBnd");
    if (bounding.empty() || !(std::strtoull(bounding.c_str(), nullptr, 16) >> kCapSysTime & 1))
        why = "The capability bounding set of this session lacks cap_sys_time (a container, or a "
              "service or login that drops it), so the kernel refuses to start the clock helper: "
              "start Larkmoor from a login that keeps cap_sys_time.";
    // The initial user namespace maps every id to itself; in any other a capability covers only
    // what that namespace owns, and the system clock is not among it.
    std::ifstream map(uidMap);
    std::uint64_t inside = 1, outside = 1, count = 0;
    if (!(map >> inside >> outside >> count) || inside != 0 || outside != 0 || count != 4294967295u)
        why += std::string(why.empty() ? "" : "\n") +
               "Larkmoor runs in a user namespace (a container or a sandbox), where the clock "
               "helper's cap_sys_time does not reach the system clock: start Larkmoor from a "
               "normal login.";
    if (StatusField(statusFile, "NoNewPrivs") != "0")
        why += std::string(why.empty() ? "" : "\n") +
               "Larkmoor runs with no_new_privs (a service with NoNewPrivileges=, or a sandbox), "
               "so the kernel grants the clock helper no capability: start Larkmoor from a "
               "normal login.";
    return why;
}

// True when the process at `process` (/proc/PID) runs one of the time services' programs: anyone
// may name a process "chronyd". Where the kernel does not show another user's program, the process
// counts when it runs for a system account (uid below 1000), as the services do and no person can.
bool RunsService(const std::filesystem::path& process) {
    static const std::string kPrograms[] = {"/usr/lib/systemd/systemd-timesyncd",
                                            "/lib/systemd/systemd-timesyncd", "/usr/sbin/chronyd",
                                            "/usr/sbin/ntpd"};
    std::error_code unread;
    std::string program = std::filesystem::read_symlink(process / "exe", unread).string();
    if (program.ends_with(" (deleted)")) // replaced by an upgrade since it started
        program.resize(program.size() - 10);
    struct stat owner {};
    return unread ? stat(process.c_str(), &owner) == 0 && owner.st_uid < 1000
                  : std::ranges::count(kPrograms, program) > 0;
}

// The time service among the running programs, by the name the kernel keeps (15 characters).
std::string RunningTimeService(const std::string& proc) {
    static const std::pair<const char*, const char*> kServices[] = {
        {"systemd-timesyn", "systemd-timesyncd"}, {"chronyd", "chronyd"}, {"ntpd", "ntpd"}};
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(proc, error)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string comm;
        std::getline(std::ifstream(entry.path() / "comm"), comm);
        for (const auto& [kernelName, name] : kServices)
            if (comm == kernelName && RunsService(entry.path()))
                return name;
    }
    return "";
}

} // namespace

bool PermitsSysTime(const std::string& attribute) {
    // magic_etc (revision in the top byte), then permitted and inheritable words, little-endian.
    if (attribute.size() < 12)
        return false;
    const auto word = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = value << 8 | static_cast<unsigned char>(attribute[at + i]);
        return value;
    };
    const std::uint32_t revision = word(0) >> 24;
    return revision >= 1 && revision <= 3 && (word(0) & 1) && (word(4) >> kCapSysTime & 1);
}

ReadinessSources SystemReadinessSources() {
    ReadinessSources sources;
    sources.helper = FindClockHelper();
    sources.capabilities = CapabilityAttribute;
    return sources;
}

ClockReadiness CheckLinuxReadiness(const ReadinessSources& sources) {
    std::string missing = HelperMissing(sources);
    if (const std::string session = SessionMissing(sources.status, sources.uidMap);
        !session.empty())
        missing += (missing.empty() ? "" : "\n") + session;
    std::string service = RunningTimeService(sources.proc);
    if (!service.empty())
        service += " is running";
    else if (sources.ntp && access(sources.systemd.c_str(), F_OK) == 0 &&
             sources.ntp().value_or(false))
        service = "systemd-timesyncd is enabled (timedatectl's NTP), not running now,";
    return {true, missing, service};
}

std::unique_ptr<Readiness>
MakeSystemReadiness(std::function<std::optional<bool>()> timesyncdEnabled) {
    ReadinessSources sources = SystemReadinessSources();
    // The setting changes only when an administrator changes it: asked at most once a minute.
    // Called on the checks' own thread only.
    sources.ntp = [ask = std::move(timesyncdEnabled),
                   last = std::optional<std::chrono::steady_clock::time_point>(),
                   known = std::optional<bool>()]() mutable {
        const auto now = std::chrono::steady_clock::now();
        if (!last || now - *last >= std::chrono::minutes(1)) {
            last = now;
            known = ask();
        }
        return known;
    };
    return MakeBackgroundReadiness([sources] { return CheckLinuxReadiness(sources); });
}

} // namespace larkmoor

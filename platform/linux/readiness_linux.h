#pragma once

#include "platform/readiness.h"

#include <functional>
#include <optional>
#include <string>

namespace larkmoor {

// What the Linux checks read and ask, so that tests can give their own files and answers.
struct ReadinessSources {
    std::string status = "/proc/self/status";  // NoNewPrivs and CapBnd, which the helper inherits
    std::string uidMap = "/proc/self/uid_map"; // this process's user namespace
    std::string proc = "/proc";                // the running programs
    std::string helper;                        // the clock helper
    // The helper's security.capability attribute, or nothing where it has none.
    std::function<std::optional<std::string>(const std::string& path)> capabilities;
    // Asked only where systemd runs (this folder exists): whether its network time service,
    // systemd-timesyncd, is enabled (timedatectl's NTP); nothing where it cannot be known.
    std::string systemd = "/run/systemd/system";
    std::function<std::optional<bool>()> ntp = {};
};
ReadinessSources SystemReadinessSources();

// Whether the clock helper could set the clock if run now, and which time service runs.
ClockReadiness CheckLinuxReadiness(const ReadinessSources& sources);

// This machine's checks, in the background; systemd is asked through `timesyncdEnabled` (which
// may wait on the system bus) at most once a minute.
std::unique_ptr<Readiness>
MakeSystemReadiness(std::function<std::optional<bool>()> timesyncdEnabled);

// True when a file capability attribute (struct vfs_cap_data, any revision) grants cap_sys_time in
// effect: permitted, with the effective flag set (cap_sys_time=ep). The helper makes no
// capability effective itself; with cap_sys_time=p alone every set would be refused.
bool PermitsSysTime(const std::string& attribute);

} // namespace larkmoor

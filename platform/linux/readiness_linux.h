#pragma once

#include "platform/readiness.h"

#include <functional>
#include <optional>
#include <string>

namespace larkmoor {

// What the Linux checks read, so that tests can give their own files.
struct ReadinessFiles {
    std::string status = "/proc/self/status"; // NoNewPrivs and CapBnd, which the helper inherits
    std::string proc = "/proc";               // the running programs
    std::string helper;                       // the clock helper
    // The helper's security.capability attribute, or nothing where it has none.
    std::function<std::optional<std::string>(const std::string& path)> capabilities;
    // systemd-timedated's NTP setting; nothing where it cannot be asked (no system bus).
    std::function<std::optional<bool>()> ntp = {};
};
ReadinessFiles SystemReadinessFiles();

// Whether the clock helper could set the clock if run now, and which time service runs.
ClockReadiness CheckLinuxReadiness(const ReadinessFiles& files);

// True when a file capability attribute (struct vfs_cap_data, any revision) permits cap_sys_time.
bool PermitsSysTime(const std::string& attribute);

} // namespace larkmoor

#include "platform/win32/readiness_win32.h"

#include "platform/win32/clock_win32.h" // SystemMessage
#include "platform/win32/worker_win32.h"

#include <windows.h>

#include <vector>

namespace larkmoor {

namespace {

constexpr const char* kTimeServiceKey = "SYSTEM\\CurrentControlSet\\Services\\W32Time\\Parameters";

// The Windows Time service's "Type": where it takes the time from; "NoSync" for nowhere.
std::string TimeSource(Registry& registry) {
    RegistryKey key = 0;
    if (registry.OpenKey(kHkeyLocalMachine, kTimeServiceKey, kKeyRead, key) != kErrorSuccess)
        return "";
    unsigned char data[64] = {};
    std::uint32_t type = kRegNone, size = sizeof data - 1;
    const bool read =
        registry.QueryValue(key, "Type", type, data, size) == kErrorSuccess && type == kRegSz;
    registry.CloseKey(key);
    return read ? reinterpret_cast<const char*>(data) : "";
}

std::optional<bool> TokenHoldsTimePrivilege() {
    LUID time{};
    HANDLE opened = nullptr;
    if (!LookupPrivilegeValueA(nullptr, SE_SYSTEMTIME_NAME, &time) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &opened))
        return std::nullopt;
    Handle token(opened);
    DWORD size = 0;
    GetTokenInformation(token.Get(), TokenPrivileges, nullptr, 0, &size);
    std::vector<DWORD> data(size / sizeof(DWORD) + 1); // aligned as TOKEN_PRIVILEGES is
    if (!GetTokenInformation(token.Get(), TokenPrivileges, data.data(),
                             static_cast<DWORD>(data.size() * sizeof(DWORD)), &size)) {
        const DWORD error = GetLastError(); // the caller's reason, kept over the close
        token.Reset();
        SetLastError(error);
        return std::nullopt;
    }
    const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(data.data());
    for (DWORD i = 0; i < held->PrivilegeCount; ++i)
        if (held->Privileges[i].Luid.LowPart == time.LowPart &&
            held->Privileges[i].Luid.HighPart == time.HighPart)
            return true;
    return false;
}

bool ServiceRunning(const char* name) {
    const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return false;
    const ServiceHandle service(OpenServiceA(manager.Get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    return service && QueryServiceStatus(service.Get(), &status) &&
           status.dwCurrentState == SERVICE_RUNNING;
}

} // namespace

ReadinessCalls SystemReadinessCalls() {
    return {TokenHoldsTimePrivilege, ServiceRunning, MakeSystemRegistry};
}

ClockReadiness CheckWindowsReadiness(const ReadinessCalls& calls) {
    ClockReadiness ready{true};
    if (const std::optional<bool> held = calls.holdsTimePrivilege(); !held)
        ready.missing =
            "Windows could not read this program's rights: " + SystemMessage(GetLastError());
    else if (!*held)
        ready.missing = "This account may not change the system time: its rights lack "
                        "SeSystemtimePrivilege (a standard account, or User Account Control "
                        "without the logon task).\nSee \"Setting the clock without a prompt\" in "
                        "the README.";
    // A service without a source never moves the clock.
    if (calls.serviceRunning("W32Time") &&
        lstrcmpiA(TimeSource(*calls.registry()).c_str(), "NoSync") != 0)
        ready.timeService = "Windows Time is running";
    return ready;
}

std::unique_ptr<Readiness> MakeSystemReadiness() {
    return MakeBackgroundReadiness([] { return CheckWindowsReadiness(SystemReadinessCalls()); });
}

} // namespace larkmoor

#include "usage.h"

#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

namespace {
double Seconds(const FILETIME& ft) {
    return ((static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 1e7;
}
double ProcessSeconds(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
        return 0;
    return Seconds(kernel) + Seconds(user);
}
} // namespace

// This process and the processes it started (its port host).
double CpuSeconds() {
    double seconds = ProcessSeconds(GetCurrentProcess());
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID != GetCurrentProcessId())
            continue;
        if (HANDLE child = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, entry.th32ProcessID)) {
            seconds += ProcessSeconds(child);
            CloseHandle(child);
        }
    }
    CloseHandle(snapshot);
    return seconds;
}

long PeakMemoryKb() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

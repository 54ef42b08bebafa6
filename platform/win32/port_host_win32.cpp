// The port host's own side: the process that loads the port library and reads it.
#include "platform/win32/port_host_win32.h"

#include "platform/win32/clock_win32.h"

#include <mmsystem.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace larkmoor {

namespace {

constexpr const char* kHostSwitch = " --port-host ";

// Raises the system's timer resolution to 1 ms while `on`, so that a wait of 1 ms lasts about
// that and not a whole 15.6 ms step; gives it back when `on` ends.
class FineTimer {
  public:
    ~FineTimer() { Set(false); }
    void Set(bool on) {
        if (on != on_ && (on ? timeBeginPeriod(1) : timeEndPeriod(1)) == TIMERR_NOERROR)
            on_ = on;
    }

  private:
    bool on_ = false;
};

void Publish(PortPage& page, const PortReading& reading, LONG address) {
    InterlockedIncrement(&page.sequence); // odd: being written
    page.status = reading.status ? *reading.status : -1;
    page.address_read = address;
    page.closed = reading.closedAtNs.has_value();
    page.closedAtNs = reading.closedAtNs.value_or(0);
    const std::size_t length = std::min(reading.note.size(), sizeof page.note - 1);
    std::memcpy(page.note, reading.note.data(), length);
    page.note[length] = '\0';
    InterlockedIncrement(&page.sequence); // even: whole
}

// Where the host crashed, written into the page as it ends: the exception's code, the module it
// happened in and where in it. Nothing is allocated: the heap may be what broke.
PortPage* crashPage = nullptr;
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    if (crashPage) {
        const EXCEPTION_RECORD& record = *info->ExceptionRecord;
        const auto at = reinterpret_cast<std::uintptr_t>(record.ExceptionAddress);
        HMODULE module = nullptr;
        char name[MAX_PATH] = "no module";
        if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                   GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<LPCSTR>(record.ExceptionAddress), &module))
            GetModuleFileNameA(module, name, sizeof name);
        std::snprintf(crashPage->crashed, sizeof crashPage->crashed,
                      "exception 0x%08lX in %s at offset 0x%" PRIXPTR,
                      static_cast<unsigned long>(record.ExceptionCode), name,
                      at - reinterpret_cast<std::uintptr_t>(module));
    }
    return EXCEPTION_EXECUTE_HANDLER; // ends the process with the code, without a dialog
}

// Windows 11 gives a process whose windows are all hidden only the default timer resolution
// unless it opts out, through SetProcessInformation; looked up at run time, since XP has no such
// call.
void KeepTimerResolution() {
    using SetInformation = BOOL(WINAPI*)(HANDLE, int, void*, DWORD);
    const auto set = reinterpret_cast<SetInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetProcessInformation")));
    // PROCESS_POWER_THROTTLING_STATE, version 1: take control of the timer resolution
    // (PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION) and turn its throttling off.
    struct {
        ULONG version = 1, controlMask = 0x4, stateMask = 0;
    } state;
    constexpr int kProcessPowerThrottling = 4;
    if (set)
        set(GetCurrentProcess(), kProcessPowerThrottling, &state, sizeof state);
}
} // namespace

std::string HostCommandLine(const std::string& program, const HostHandles& handles) {
    const auto number = [](HANDLE h) {
        return std::to_string(reinterpret_cast<std::uintptr_t>(h));
    };
    return '"' + program + '"' + kHostSwitch + number(handles.page) + ' ' + number(handles.asked) +
           ' ' + number(handles.parent);
}

std::optional<HostHandles> ParseHostCommandLine(const char* commandLine) {
    const char* at = std::strstr(commandLine, kHostSwitch);
    std::uintmax_t page = 0, asked = 0, parent = 0;
    if (!at ||
        std::sscanf(at + std::strlen(kHostSwitch), "%ju %ju %ju", &page, &asked, &parent) != 3)
        return std::nullopt;
    const auto handle = [](std::uintmax_t value) {
        return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(value));
    };
    return HostHandles{handle(page), handle(asked), handle(parent)};
}

int ServePortPage(PortPage& page, const HostHandles& handles, Port& port) {
    FineTimer timer;
    ClosureInstant closure;
    const HANDLE wakers[] = {handles.parent, handles.asked};
    for (bool asked = false;;) {
        const bool fast = asked && page.fast; // never before the window's first request
        timer.Set(fast);
        const DWORD woke = WaitForMultipleObjects(2, wakers, FALSE, fast ? 1 : INFINITE);
        if (woke != WAIT_OBJECT_0 + 1 && woke != WAIT_TIMEOUT)
            return 0; // the window's process has ended
        asked = true;
        const LONG address = page.address;
        PortReading reading = port.Inp(static_cast<std::uint16_t>(address));
        closure.Mark(reading, MonotonicNs());
        Publish(page, reading, address);
    }
}

int RunPortHost(const HostHandles& handles) {
    // A crash in the library ends this process quietly; the window reports it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    auto* page =
        static_cast<PortPage*>(MapViewOfFile(handles.page, FILE_MAP_WRITE, 0, 0, sizeof(PortPage)));
    if (!page)
        return 1;
    crashPage = page;
    SetUnhandledExceptionFilter(ReportCrash);
    KeepTimerResolution();
    auto registry = MakeSystemRegistry();
    auto port = MakeLibraryPort(
        PortLibraryFolders(OwnProgram()), [] { return static_cast<std::uint32_t>(GetTickCount()); },
        [&] { return DriverPolicyNote(*registry); });
    return ServePortPage(*page, handles, *port);
}

} // namespace larkmoor

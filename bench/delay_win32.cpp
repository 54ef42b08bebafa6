// The bench of the Win32 build: the contact read through the real port host, which loads the
// bench's port library (host/ntport.dll beside host/larkmoor.exe), and the real clock, whose call
// to SetSystemTime is recorded instead of made.
#include "delay.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/port_host_win32.h"
#include "platform/win32/window_win32.h"

#include <cstdlib>
#include <memory>
#include <new>

namespace {

DWORD WINAPI RunBody(void* body) {
    std::unique_ptr<std::function<void()>>(static_cast<std::function<void()>*>(body))->operator()();
    return 0;
}

} // namespace

std::function<void()> StartThread(std::function<void()> body) {
    HANDLE thread =
        CreateThread(nullptr, 0, RunBody, new std::function<void()>(std::move(body)), 0, nullptr);
    return [thread] {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    };
}

int main(int argc, char** argv) {
    using namespace larkmoor;
    const int closures = argc > 1 ? std::atoi(argv[1]) : 200;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    // The contact lives in the page the bench's port library reads.
    HANDLE page = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                     sizeof(Contact), "LarkmoorBenchContact");
    void* view = page ? MapViewOfFile(page, FILE_MAP_WRITE, 0, 0, sizeof(Contact)) : nullptr;
    if (!view)
        return 2;
    Contact& contact = *new (view) Contact;
    const std::string self = OwnProgram();
    auto port = MakeHostedPort(
        self.substr(0, self.find_last_of('\\')) + "\\host\\larkmoor.exe",
        [] { return std::optional(StatusRegister{kStatusPort, "the bench's contact"}); },
        [] { return std::uint32_t{GetTickCount()}; }, [&] { return contact.nearClosure.load(); },
        nullptr);
    // Sets run on the window's thread; they are read once it has ended.
    std::vector<RecordedSet> sets;
    TimeCalls calls = SystemTimeCalls();
    calls.setUtc = [&](const SYSTEMTIME& utc) {
        const std::int64_t at = MonotonicNs();
        FILETIME ft{};
        SystemTimeToFileTime(&utc, &ft);
        sets.push_back({FileTimeToUnixNs(ft), at});
        return true;
    };
    const auto clock = MakeWin32Clock(calls);
    Win32WindowSystem windows(GetModuleHandleA(nullptr));
    BenchTarget target{windows, *port, *clock, MonotonicNs, [&] { return sets; }};
    return RunDelayBench(target, contact, closures, idleSeconds);
}

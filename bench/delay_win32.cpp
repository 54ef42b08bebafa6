// The closure-to-set delay of the Win32 build.
#include "delay.h"
#include "platform/win32/window_win32.h"

#include <cstdlib>
#include <memory>

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
    const int closures = argc > 1 ? std::atoi(argv[1]) : 200;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    larkmoor::Win32WindowSystem windows(GetModuleHandleA(nullptr));
    return RunDelayBench(windows, closures, idleSeconds);
}

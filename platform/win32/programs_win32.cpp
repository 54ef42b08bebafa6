#include "platform/programs.h"
#include "platform/win32/handles_win32.h"

#include <windows.h>

namespace larkmoor {

namespace {
// Starts the file itself: the path is the application name, so it is never searched for or
// split at a space, and it is quoted in the command line the program receives.
class Win32Programs : public Programs {
  public:
    bool NormalFileExists(const std::string& path) override {
        const DWORD attributes = GetFileAttributesA(path.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               !(attributes &
                 (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    }
    bool Start(const std::string& path) override {
        if (path.empty())
            return false;
        std::string commandLine = "\"" + path + "\"";
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process))
            return false;
        const Handle thread(process.hThread), started(process.hProcess); // not waited for
        return true;
    }
};
} // namespace

std::unique_ptr<Programs> MakeSystemPrograms() {
    return std::make_unique<Win32Programs>();
}

} // namespace larkmoor

#include "programs_linux.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace larkmoor {

std::optional<pid_t> SpawnDetached(const std::string& path) {
    if (path.empty())
        return std::nullopt;
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ) != 0)
        return std::nullopt;
    std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
    return pid;
}

namespace {
class LinuxPrograms : public Programs {
  public:
    bool NormalFileExists(const std::string& path) override {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
    }
    bool Start(const std::string& path) override { return SpawnDetached(path).has_value(); }
};
} // namespace

std::unique_ptr<Programs> MakeSystemPrograms() {
    return std::make_unique<LinuxPrograms>();
}

} // namespace larkmoor

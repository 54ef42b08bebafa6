// Finds the system information tool on Linux, which has no registry: the About dialog's read of
// the one entry that names the tool is answered with the first of a few well-known tools that is
// installed when it is asked for. Every other key and value is missing.
#include "platform/registry.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sys/stat.h>

namespace larkmoor {

namespace {
constexpr RegistryKey kSysInfoKeyHandle = 1;
constexpr const char* kSysInfoKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kTools[] = {"/usr/bin/kinfocenter", "/usr/bin/gnome-system-monitor",
                                  "/usr/bin/hardinfo"};

bool SameName(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

bool IsRegularFile(const char* path) {
    struct stat info {};
    return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

class SystemInfoTools : public Registry {
  public:
    long OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t,
                 RegistryKey& key) override {
        if (root != kHkeyLocalMachine || !SameName(subKey, kSysInfoKey))
            return kErrorFileNotFound;
        key = kSysInfoKeyHandle;
        return kErrorSuccess;
    }
    long QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t& type,
                    unsigned char* data, std::uint32_t& size) override {
        if (key != kSysInfoKeyHandle || !SameName(valueName, "PATH"))
            return kErrorFileNotFound;
        for (const char* tool : kTools) {
            if (!IsRegularFile(tool))
                continue;
            const std::uint32_t length = static_cast<std::uint32_t>(std::strlen(tool)) + 1;
            if (length > size)
                return kErrorMoreData;
            std::memcpy(data, tool, length);
            type = kRegSz;
            size = length;
            return kErrorSuccess;
        }
        return kErrorFileNotFound;
    }
    long CloseKey(RegistryKey) override { return kErrorSuccess; }
    std::string ExpandEnvironment(const std::string& text) override { return text; }
};
} // namespace

std::unique_ptr<Registry> MakeSystemRegistry() {
    return std::make_unique<SystemInfoTools>();
}

} // namespace larkmoor

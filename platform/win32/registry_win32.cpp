#include "platform/registry.h"

#include <windows.h>

namespace larkmoor {

namespace {
HKEY Handle(RegistryKey key) {
    return reinterpret_cast<HKEY>(key);
}

class Win32Registry : public Registry {
  public:
    long OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t access,
                 RegistryKey& key) override {
        HKEY opened = nullptr;
        const long status = RegOpenKeyExA(Handle(root), subKey.c_str(), 0, access, &opened);
        key = reinterpret_cast<RegistryKey>(opened);
        return status;
    }
    long QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t& type,
                    unsigned char* data, std::uint32_t& size) override {
        DWORD valueType = REG_NONE;
        DWORD valueSize = size;
        const long status =
            RegQueryValueExA(Handle(key), valueName.c_str(), nullptr, &valueType, data, &valueSize);
        type = valueType;
        size = valueSize;
        return status;
    }
    long CloseKey(RegistryKey key) override { return RegCloseKey(Handle(key)); }
    std::string ExpandEnvironment(const std::string& text) override {
        const DWORD needed = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
        if (needed == 0)
            return text;
        std::string expanded(needed, '\0');
        const DWORD written = ExpandEnvironmentStringsA(text.c_str(), expanded.data(), needed);
        if (written == 0 || written > needed)
            return text;
        expanded.resize(written - 1);
        return expanded;
    }
};

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
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return true;
    }
};
} // namespace

std::unique_ptr<Registry> MakeSystemRegistry() {
    return std::make_unique<Win32Registry>();
}
std::unique_ptr<Programs> MakeSystemPrograms() {
    return std::make_unique<Win32Programs>();
}

} // namespace larkmoor

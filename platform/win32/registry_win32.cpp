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

} // namespace

std::unique_ptr<Registry> MakeSystemRegistry() {
    return std::make_unique<Win32Registry>();
}

} // namespace larkmoor

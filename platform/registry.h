#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace larkmoor {

// The registry calls the launcher needs, with Windows' own status codes (0 is success).
using RegistryKey = std::uintptr_t;
inline constexpr RegistryKey kHkeyLocalMachine = 0x80000002;
inline constexpr std::uint32_t kKeyRead = 0x20019;

inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorMoreData = 234;

enum RegistryType : std::uint32_t {
    kRegNone = 0,
    kRegSz = 1,
    kRegExpandSz = 2,
    kRegBinary = 3,
    kRegDword = 4,
};

class Registry {
  public:
    virtual ~Registry() = default;
    virtual long OpenKey(RegistryKey root, const std::string& subKey, std::uint32_t access,
                         RegistryKey& key) = 0;
    // Reads up to `size` bytes into `data`; `size` becomes the number of bytes written.
    virtual long QueryValue(RegistryKey key, const std::string& valueName, std::uint32_t& type,
                            unsigned char* data, std::uint32_t& size) = 0;
    virtual long CloseKey(RegistryKey key) = 0;
    // %NAME% references replaced by the environment's values, as for REG_EXPAND_SZ values.
    virtual std::string ExpandEnvironment(const std::string& text) = 0;
};

std::unique_ptr<Registry> MakeSystemRegistry();

} // namespace larkmoor

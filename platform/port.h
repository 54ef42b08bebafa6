#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace larkmoor {

// Status register of the first parallel port (base address 0x378).
inline constexpr std::uint16_t kStatusPort = 0x379;

// Byte-wide reads from I/O ports.
class Port {
  public:
    virtual ~Port() = default;
    // The byte at the I/O port `address`, or nothing when the port cannot be read
    // (no port library, no device, no permission).
    virtual std::optional<std::uint8_t> Inp(std::uint16_t address) = 0;
};

// The machine's own parallel port access, for the platform built.
std::unique_ptr<Port> MakeSystemPort();

} // namespace larkmoor

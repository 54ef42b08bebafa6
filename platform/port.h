#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace larkmoor {

// Status register of the first parallel port (base address 0x378). A system port reads the
// status register of the machine's first parallel port for it, wherever that port is.
inline constexpr std::uint16_t kStatusPort = 0x379;

// What one read of a port gave: the byte, or nothing when the port cannot be read. `note` says
// in plain words which port was read and how, or why it could not be read.
struct PortReading {
    std::optional<std::uint8_t> status;
    std::string note;
};

// Byte-wide reads from I/O ports.
class Port {
  public:
    virtual ~Port() = default;
    virtual PortReading Inp(std::uint16_t address) = 0;
};

// The machine's own parallel port access, for the platform built.
std::unique_ptr<Port> MakeSystemPort();

} // namespace larkmoor

#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace larkmoor {

// A number as the tooltips write addresses and readings: "0x379", "0xD010"; at least `digits`
// hexadecimal digits ("0x7F").
inline std::string Hex(unsigned value, int digits = 1) {
    std::string text;
    for (; value != 0 || digits > 0; value >>= 4, --digits)
        text.insert(text.begin(), "0123456789ABCDEF"[value & 0xF]);
    return "0x" + text;
}

// Status register of the first parallel port (base address 0x378). A system port reads the
// status register of the machine's first parallel port for it, wherever that port is.
inline constexpr std::uint16_t kStatusPort = 0x379;

// What one read of a port gave: the byte, or nothing when the port cannot be read. `note` says
// in plain words which port was read and how, or why it could not be read. `closedAtNs`: while
// the contact reads closed, the instant it was first seen closed since it was last seen open, in
// nanoseconds on the system's monotonic clock (CLOCK_MONOTONIC; QueryPerformanceCounter).
struct PortReading {
    std::optional<std::uint8_t> status;
    std::string note;
    std::optional<std::int64_t> closedAtNs{};
};

// 127 minus the status byte; the contact is closed when this reaches 8 (pin 15 grounded
// clears status bit 3).
constexpr int ClosureMeasure(int status) {
    return 127 - status;
}
constexpr bool IsClosed(int status) {
    return ClosureMeasure(status) >= 8;
}

// Follows the contact over a reading thread's samples, and marks each reading with the instant
// the contact was first seen closed since it was last seen open.
class ClosureInstant {
  public:
    void Mark(PortReading& reading, std::int64_t sampledAtNs) {
        if (!reading.status || !IsClosed(*reading.status))
            since_.reset();
        else if (!since_)
            since_ = sampledAtNs;
        reading.closedAtNs = since_;
    }

  private:
    std::optional<std::int64_t> since_;
};

// The contact's port: `Inp`, named as the port routine it stands for, reads the status register
// at `address`, which the watcher always gives as kStatusPort (0x379, the register of a port at
// 0x378). Each platform reads the status register of the first parallel port it finds there or
// elsewhere (a card at 0xD010), and no other register.
class Port {
  public:
    virtual ~Port() = default;
    virtual PortReading Inp(std::uint16_t address) = 0;
};

// The machine's own parallel port access, for the platform built.
std::unique_ptr<Port> MakeSystemPort();

} // namespace larkmoor

#pragma once

#include "platform/port.h"

#include <memory>
#include <optional>
#include <string>

namespace larkmoor {

// Reads port bytes from a file laid out like /dev/port (the byte at offset N is port N).
// The file is opened on first use and again after a failed read, so a device that comes back
// is picked up.
class DevPortReader : public Port {
  public:
    explicit DevPortReader(std::string path) : path_(std::move(path)) {}
    ~DevPortReader() override;
    PortReading Inp(std::uint16_t address) override;

  private:
    std::string path_;
    int fd_ = -1;
};

// The /dev/parportN whose base address (from `procRoot`/parportN/base-addr) is `base`.
std::optional<std::string> FindParportDevice(const std::string& procRoot,
                                             const std::string& devRoot, unsigned base);

// The status register of a ppdev device. The port is claimed once, on a thread of its own,
// because a claim waits while another driver holds the port; until the claim has succeeded
// the port reads as unavailable.
class PpdevReader : public Port {
  public:
    explicit PpdevReader(const std::string& device);
    PortReading Inp(std::uint16_t address) override;
    bool Failed() const;

  private:
    struct Claim;
    std::shared_ptr<Claim> claim_;
};

} // namespace larkmoor

#pragma once

#include "platform/port.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace larkmoor {

// Reads port bytes from a file laid out like /dev/port (the byte at offset N is port N).
// The file is opened on first use and again after a failed read.
class DevPortReader : public Port {
  public:
    explicit DevPortReader(std::string path) : path_(std::move(path)) {}
    ~DevPortReader() override;
    PortReading Inp(std::uint16_t address) override;

  private:
    std::string path_;
    int fd_ = -1;
};

// The calls made on a ppdev device (/dev/parportN).
class PpdevIo {
  public:
    virtual ~PpdevIo() = default;
    // Opens the device and claims its port, waiting while another driver holds it: a
    // descriptor, or minus the errno of the failure. Called off the user-interface thread.
    virtual int OpenAndClaim(const std::string& device) = 0;
    // Reads the status register: 0, or the errno of the failure.
    virtual int ReadStatus(int fd, std::uint8_t& status) = 0;
    // Releases the port and closes the descriptor.
    virtual void Close(int fd) = 0;
};
std::shared_ptr<PpdevIo> MakeSystemPpdev();

// The first parallel port as the kernel lists it under `proc`: the one at base 0x378, else the
// lowest parportN whatever its address, through its ppdev device under `dev`; else `dev`/port,
// only when /proc/ioports shows a parallel port at 0x378.
struct PortChoice {
    enum Kind { kNone, kPpdev, kDevPort } kind = kNone;
    std::string device;
    std::string name;    // "parport0 at 0x378"; for kNone, why there is no port
    std::string listing; // the kernel's entry for a ppdev port, gone when the port goes
};
PortChoice FindFirstPort(const std::string& proc, const std::string& dev);

// What the first parallel port is found in and claimed through, and the time, for tests.
struct PortMachine {
    std::string proc = "/proc";
    std::string dev = "/dev";
    std::shared_ptr<PpdevIo> ppdev = MakeSystemPpdev();
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
};

// How long the port waits before looking again for a port that it lacks.
inline constexpr std::chrono::seconds kPortRetry{5};

// The machine's first parallel port. While none is held it is looked for again every
// kPortRetry; a ppdev claim runs on a thread of its own because it waits while another driver
// holds the port. A port that the kernel stops listing, or that fails a read, is released at
// once and reads as nothing.
std::unique_ptr<Port> MakeFirstParallelPort(PortMachine machine);

} // namespace larkmoor

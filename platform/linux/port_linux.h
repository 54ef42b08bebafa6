#pragma once

#include "platform/port.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace larkmoor {

// The calls made on a ppdev device (/dev/parportN). Each may wait in the kernel: ppdev serves
// one call at a time for all its devices, and a claim sleeps while another program holds the
// port, holding up every other ppdev call meanwhile.
class PpdevIo {
  public:
    virtual ~PpdevIo() = default;
    // Opens the device and claims its port: a descriptor, or minus the errno of the failure.
    virtual int OpenAndClaim(const std::string& device) = 0;
    // Reads the status register: 0, or minus the errno of the failure.
    virtual int ReadStatus(int fd, std::uint8_t& status) = 0;
    // Releases the port and closes the descriptor.
    virtual void Close(int fd) = 0;
};
std::shared_ptr<PpdevIo> MakeSystemPpdev();

// Makes `call`, a system call that may sleep, on the calling thread, and interrupts it with a
// signal every `limit` until it returns: one that sleeps interruptibly then fails with EINTR.
int WithinLimit(std::chrono::milliseconds limit, const std::function<int()>& call);

// The first parallel port as the kernel lists it under `proc`/sys/dev/parport: the one at base
// 0x378, else the lowest parportN whatever its address, and its ppdev device under `dev`.
struct PortChoice {
    bool found = false;
    std::string device;  // "/dev/parport0"
    std::string name;    // "parport0 at 0x378"; when none is found, why
    std::string listing; // the kernel's folder for the port
};
PortChoice FindFirstPort(const std::string& proc, const std::string& dev);

// True within a minute either side of hh:54:30 by the wall clock (CLOCK_REALTIME): the hour's
// closure follows the time of day, not the time since boot.
bool NearClosureNow();

// What the first parallel port is found in and claimed through, and the time, for tests. `now`
// is CLOCK_MONOTONIC: the instants of closures are taken from it.
struct PortMachine {
    std::string proc = "/proc";
    std::string dev = "/dev";
    std::shared_ptr<PpdevIo> ppdev = MakeSystemPpdev();
    std::function<std::chrono::steady_clock::time_point()> now = std::chrono::steady_clock::now;
    std::function<bool()> nearClosure = NearClosureNow;
};

// How long the port waits before looking again for a port that it lacks.
inline constexpr std::chrono::seconds kPortRetry{5};

// The first parallel port, read through ppdev on the calling thread, which may have to wait in
// the kernel. While no port is held it is looked for again every kPortRetry. A reading counts
// only if the port's device was still there after it was taken: the kernel deletes a removed
// port's device before its reads start answering 0, so a reading taken after a removal is never
// passed on. A port that is gone or fails a read is released at once.
class PpdevPort {
  public:
    explicit PpdevPort(PortMachine machine) : m_(std::move(machine)) {}
    ~PpdevPort() { Release(); }
    PpdevPort(const PpdevPort&) = delete;
    PpdevPort& operator=(const PpdevPort&) = delete;

    // One reading of the status register. `waitingFor` is told, before each call that may
    // wait in the kernel, what the wait would be for.
    PortReading Read(const std::function<void(std::string)>& waitingFor);

  private:
    bool StillThere() const;
    PortReading Drop(std::string note);
    void Release();

    PortMachine m_;
    PortChoice choice_;
    int fd_ = -1;
    std::chrono::steady_clock::time_point nextLook_{};
    std::string note_;
};

// How long a reading may be overdue before the port reads as nothing, saying what the reading
// thread waits for.
inline constexpr std::chrono::seconds kReadingOverdue{1};

// The machine's first parallel port, read on a thread of its own so that nothing the kernel
// makes it wait for holds up the caller: each Inp returns at once with the reading taken since
// the last one (else that one again) and asks for the next, which is taken shortly before the
// next 50 ms tick. Near hh:54:30 the port is read every millisecond instead, so that the instant
// a closure is first seen is known to about a millisecond.
std::unique_ptr<Port> MakeFirstParallelPort(PortMachine machine);

} // namespace larkmoor

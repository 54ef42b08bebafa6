#include "port_linux.h"

#include "errno_text.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace larkmoor {

namespace fs = std::filesystem;

namespace {
constexpr unsigned kParallelBase = 0x378;

// A claim of a port that another program holds sleeps in the kernel holding ppdev's one lock,
// which that program needs to let go of the port: it is interrupted after this long.
constexpr std::chrono::milliseconds kClaimLimit{200};

class SystemPpdev : public PpdevIo {
  public:
    int OpenAndClaim(const std::string& device) override {
        const int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return -errno;
        if (WithinLimit(kClaimLimit, [fd] { return ioctl(fd, PPCLAIM); }) != 0) {
            const int error = errno;
            close(fd);
            return -error;
        }
        return fd;
    }
    int ReadStatus(int fd, std::uint8_t& status) override {
        unsigned char byte = 0;
        if (ioctl(fd, PPRSTATUS, &byte) != 0)
            return -errno;
        status = byte;
        return 0;
    }
    void Close(int fd) override { close(fd); } // also releases the claim
};

// The first number in a file, read as decimal.
std::optional<unsigned> FirstNumber(const fs::path& file) {
    unsigned value = 0;
    if (std::ifstream in(file); in >> value)
        return value;
    return std::nullopt;
}

std::string PortListing(const std::string& proc) {
    return proc + "/sys/dev/parport";
}

// The device driver that holds the port now ("ppdev0", "lp0"), or empty when none does.
std::string Holder(const PortChoice& choice) {
    std::string active;
    std::ifstream(choice.listing + "/devices/active") >> active;
    return active == "none" ? "" : active;
}

// "/dev/parport0 (parport0 at 0x378)", as the tooltips name a port.
std::string Named(const PortChoice& choice) {
    return choice.device + " (" + choice.name + ")";
}

std::string ClaimFailure(const PortChoice& choice, int error) {
    switch (error) {
    case ENOENT:
        return choice.device + " does not exist: load the ppdev module (modprobe ppdev).";
    case EACCES:
    case EPERM:
        return Named(choice) + " cannot be opened: " + Errno(error) +
               ". Add this user to the group lp and log in again.";
    case EINTR:
        return Named(choice) + " is held by another program: stop it. Looked at again every " +
               std::to_string(kPortRetry.count()) + " s.";
    default:
        return Named(choice) + " cannot be claimed: " + Errno(error) + ".";
    }
}

} // namespace

int WithinLimit(std::chrono::milliseconds limit, const std::function<int()>& call) {
    // A handler without SA_RESTART: the signal ends the call rather than resuming it.
    static const int signal = [] {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        sigaction(SIGRTMIN, &action, nullptr);
        return SIGRTMIN;
    }();
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = signal;
    event._sigev_un._tid = gettid();
    timer_t timer;
    if (timer_create(CLOCK_MONOTONIC, &event, &timer) != 0)
        return call();
    // Again and again: a signal that comes just before the call sleeps is not its last.
    const auto ns = std::chrono::nanoseconds(limit).count();
    const timespec every{ns / 1'000'000'000, ns % 1'000'000'000};
    const itimerspec repeating{every, every};
    timer_settime(timer, 0, &repeating, nullptr);
    const int result = call();
    const int error = errno;
    timer_delete(timer);
    errno = error;
    return result;
}

PortChoice FindFirstPort(const std::string& proc, const std::string& dev) {
    // A removed port stays listed, without its base address, while a program still holds it.
    std::map<unsigned, unsigned> bases; // parportN -> base address, by N
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(PortListing(proc), error)) {
        const std::string name = entry.path().filename().string();
        unsigned n = 0;
        char rest = 0;
        if (std::sscanf(name.c_str(), "parport%u%c", &n, &rest) != 1)
            continue;
        if (const auto base = FirstNumber(entry.path() / "base-addr"))
            bases[n] = *base;
    }
    auto chosen = bases.begin();
    for (auto it = bases.begin(); it != bases.end(); ++it)
        if (it->second == kParallelBase)
            chosen = it;
    if (chosen == bases.end())
        return {false, "",
                "The kernel lists no parallel port: load the parport_pc module, or enable the port "
                "in the firmware setup.",
                ""};
    const std::string port = "parport" + std::to_string(chosen->first);
    return {true, dev + "/" + port, port + " at " + Hex(chosen->second),
            PortListing(proc) + "/" + port};
}

PortReading PpdevPort::Read(const std::function<void(std::string)>& waitingFor) {
    if (fd_ < 0) {
        if (m_.now() < nextLook_)
            return {std::nullopt, note_};
        choice_ = FindFirstPort(m_.proc, m_.dev);
        if (!choice_.found)
            return Drop(choice_.name);
        // A claim would sleep until the holder lets go, and hold up every ppdev call meanwhile.
        if (const std::string holder = Holder(choice_); !holder.empty())
            return Drop(Named(choice_) + " is in use by " + holder +
                        ": unload lp (modprobe -r lp) or stop the program that holds the port.");
        waitingFor("Waiting to claim " + Named(choice_) + ": another program holds the port.");
        const int fd = m_.ppdev->OpenAndClaim(choice_.device);
        if (fd < 0)
            return Drop(ClaimFailure(choice_, -fd));
        fd_ = fd;
    }
    waitingFor("Waiting for the kernel to read " + choice_.device +
               ": ppdev is held up by another program that waits to claim a parallel port.");
    std::uint8_t status = 0;
    if (const int error = m_.ppdev->ReadStatus(fd_, status))
        return Drop(choice_.device + " cannot be read: " + Errno(-error) +
                    ". Looking for a port again.");
    if (!StillThere())
        return Drop("The kernel has removed " + choice_.name + " (" + choice_.device +
                    " has gone): the port was unplugged or its driver let go of it.");
    return {status, "Reading " + choice_.name + " through " + choice_.device + "."};
}

// True when the device node is still the one the descriptor was opened on. The kernel deletes
// it before it makes the port's reads answer 0 (parport_remove_port detaches ppdev first).
bool PpdevPort::StillThere() const {
    struct stat held {};
    struct stat named {};
    return fstat(fd_, &held) == 0 && stat(choice_.device.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Lets go of the port, or gives up finding one, until kPortRetry from now.
PortReading PpdevPort::Drop(std::string note) {
    Release();
    nextLook_ = m_.now() + kPortRetry;
    note_ = std::move(note);
    return {std::nullopt, note_};
}

void PpdevPort::Release() {
    if (fd_ >= 0)
        m_.ppdev->Close(fd_);
    fd_ = -1;
}

std::shared_ptr<PpdevIo> MakeSystemPpdev() {
    return std::make_shared<SystemPpdev>();
}

std::unique_ptr<Port> MakeSystemPort() {
    return MakeFirstParallelPort({});
}

} // namespace larkmoor

#include "port_linux.h"

#include "errno_text.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <map>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace larkmoor {

namespace fs = std::filesystem;

namespace {
constexpr unsigned kParallelBase = 0x378;

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}
} // namespace

DevPortReader::~DevPortReader() {
    if (fd_ >= 0)
        close(fd_);
}

PortReading DevPortReader::Inp(std::uint16_t address) {
    if (fd_ < 0)
        fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        std::string note = path_ + " cannot be opened: " + Errno(error) + ".";
        if (error == EPERM)
            note += " The kernel's lockdown (Secure Boot) forbids it; load the ppdev module.";
        else if (error == EACCES)
            note += " Only root may read it; load the ppdev module and add this user to the "
                    "group lp instead.";
        return {std::nullopt, note};
    }
    unsigned char byte = 0;
    if (pread(fd_, &byte, 1, address) != 1) {
        const int error = errno;
        close(fd_);
        fd_ = -1;
        return {std::nullopt, path_ + " cannot be read at " + Hex(address) + ": " +
                                  (error ? Errno(error) : "past its end") + "."};
    }
    return {byte, "Reading port " + Hex(address) + " through " + path_ + "."};
}

namespace {

class SystemPpdev : public PpdevIo {
  public:
    int OpenAndClaim(const std::string& device) override {
        const int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            return -errno;
        if (ioctl(fd, PPCLAIM) != 0) {
            const int error = errno;
            close(fd);
            return -error;
        }
        return fd;
    }
    int ReadStatus(int fd, std::uint8_t& status) override {
        unsigned char byte = 0;
        if (ioctl(fd, PPRSTATUS, &byte) != 0)
            return errno;
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

// True when /proc/ioports shows a parallel port's region starting at 0x378.
bool IoportsListParallelPortAt378(const std::string& proc) {
    std::ifstream in(proc + "/ioports");
    for (std::string line; std::getline(in, line);) {
        unsigned start = 0;
        char name[64] = {};
        if (std::sscanf(line.c_str(), " %x-%*x : %63s", &start, name) == 2 &&
            start == kParallelBase && std::strncmp(name, "parport", 7) == 0)
            return true;
    }
    return false;
}

std::string PortListing(const std::string& proc) {
    return proc + "/sys/dev/parport";
}

} // namespace

PortChoice FindFirstPort(const std::string& proc, const std::string& dev) {
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
    if (chosen != bases.end()) {
        const std::string port = "parport" + std::to_string(chosen->first);
        return {PortChoice::kPpdev, dev + "/" + port, port + " at " + Hex(chosen->second),
                PortListing(proc) + "/" + port};
    }
    if (IoportsListParallelPortAt378(proc))
        return {PortChoice::kDevPort, dev + "/port", "the parallel port at 0x378", ""};
    return {PortChoice::kNone, "",
            "The kernel lists no parallel port: load the parport_pc module, or enable the port "
            "in the firmware setup.",
            ""};
}

namespace {

// One ppdev claim, made on a thread of its own; whoever lets go of it last closes it.
struct Claim {
    enum State { kPending, kClaimed, kFailed };
    Claim(std::shared_ptr<PpdevIo> io, PortChoice choice) : io(std::move(io)), choice(choice) {}
    ~Claim() {
        if (state == kClaimed)
            io->Close(fd);
    }
    std::shared_ptr<PpdevIo> io;
    const PortChoice choice;
    std::atomic<State> state{kPending};
    int fd = -1; // written before state leaves kPending
    int error = 0;
};

std::string ClaimFailure(const Claim& claim) {
    const std::string& device = claim.choice.device;
    const std::string what = device + " (" + claim.choice.name + ")";
    switch (claim.error) {
    case ENOENT:
        return device + " does not exist: load the ppdev module (modprobe ppdev).";
    case EACCES:
    case EPERM:
        return what + " cannot be opened: " + Errno(claim.error) +
               ". Add this user to the group lp and log in again.";
    default:
        return what + " cannot be claimed: " + Errno(claim.error) + ".";
    }
}

class FirstParallelPort : public Port {
  public:
    explicit FirstParallelPort(PortMachine machine) : m_(std::move(machine)) {}

    PortReading Inp(std::uint16_t address) override {
        if (!claim_ && !devPort_ && m_.now() >= nextLook_)
            Look();
        if (claim_)
            return ReadPpdev(address);
        if (devPort_) {
            if (!IoportsListParallelPortAt378(m_.proc))
                return Drop("The kernel no longer lists a parallel port at 0x378.");
            PortReading reading = devPort_->Inp(address);
            return reading.status ? reading : Drop(reading.note);
        }
        return {std::nullopt, note_};
    }

  private:
    void Look() {
        nextLook_ = m_.now() + kPortRetry;
        const PortChoice choice = FindFirstPort(m_.proc, m_.dev);
        note_ = choice.name;
        if (choice.kind == PortChoice::kDevPort)
            devPort_ = std::make_unique<DevPortReader>(choice.device);
        if (choice.kind != PortChoice::kPpdev)
            return;
        claim_ = std::make_shared<Claim>(m_.ppdev, choice);
        std::thread([claim = claim_] {
            const int fd = claim->io->OpenAndClaim(claim->choice.device);
            fd >= 0 ? claim->fd = fd : claim->error = -fd;
            claim->state = fd >= 0 ? Claim::kClaimed : Claim::kFailed;
        }).detach();
    }

    PortReading ReadPpdev(std::uint16_t address) {
        // A port taken away (hot-unplug, module unloaded) leaves its device answering 0.
        if (!fs::exists(claim_->choice.listing))
            return Drop("The kernel no longer lists " + claim_->choice.name +
                        ": the port has gone. Looking for a port again.");
        if (claim_->state == Claim::kFailed)
            return Drop(ClaimFailure(*claim_));
        if (claim_->state == Claim::kPending)
            return {std::nullopt,
                    "Waiting to claim " + claim_->choice.device + ": another driver holds it."};
        if (address != kParallelBase + 1)
            return {std::nullopt, "ppdev reads only the status register at 0x379."};
        std::uint8_t status = 0;
        if (const int error = m_.ppdev->ReadStatus(claim_->fd, status))
            return Drop(claim_->choice.device + " cannot be read: " + Errno(error) + ".");
        return {status,
                "Reading " + claim_->choice.name + " through " + claim_->choice.device + "."};
    }

    // Lets go of the port; the next look is kPortRetry after the last one.
    PortReading Drop(std::string note) {
        claim_.reset();
        devPort_.reset();
        note_ = std::move(note);
        return {std::nullopt, note_};
    }

    PortMachine m_;
    std::shared_ptr<Claim> claim_;
    std::unique_ptr<DevPortReader> devPort_;
    std::chrono::steady_clock::time_point nextLook_{};
    std::string note_;
};

} // namespace

std::shared_ptr<PpdevIo> MakeSystemPpdev() {
    return std::make_shared<SystemPpdev>();
}

std::unique_ptr<Port> MakeFirstParallelPort(PortMachine machine) {
    return std::make_unique<FirstParallelPort>(std::move(machine));
}

std::unique_ptr<Port> MakeSystemPort() {
    return MakeFirstParallelPort({});
}

} // namespace larkmoor

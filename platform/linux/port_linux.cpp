#include "port_linux.h"

#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace larkmoor {

namespace {
constexpr unsigned kParallelBase = 0x378;
} // namespace

DevPortReader::~DevPortReader() {
    if (fd_ >= 0)
        close(fd_);
}

PortReading DevPortReader::Inp(std::uint16_t address) {
    if (fd_ < 0)
        fd_ = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return {std::nullopt, path_ + " cannot be opened."};
    unsigned char byte = 0;
    if (pread(fd_, &byte, 1, address) != 1) {
        close(fd_);
        fd_ = -1;
        return {std::nullopt, path_ + " cannot be read."};
    }
    return {byte, "Reading " + path_ + "."};
}

std::optional<std::string> FindParportDevice(const std::string& procRoot,
                                             const std::string& devRoot, unsigned base) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(procRoot, error)) {
        std::ifstream file(entry.path() / "base-addr");
        unsigned first = 0;
        if (file >> first && first == base)
            return devRoot + "/" + entry.path().filename().string();
    }
    return std::nullopt;
}

struct PpdevReader::Claim {
    enum State { kPending, kClaimed, kFailed };
    std::atomic<State> state{kPending};
    int fd = -1;
    ~Claim() {
        if (fd >= 0)
            close(fd); // also releases the claim
    }
};

PpdevReader::PpdevReader(const std::string& device) : claim_(std::make_shared<Claim>()) {
    std::thread([claim = claim_, device] {
        const int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 && ioctl(fd, PPCLAIM) == 0) {
            claim->fd = fd;
            claim->state = Claim::kClaimed;
            return;
        }
        if (fd >= 0)
            close(fd);
        claim->state = Claim::kFailed;
    }).detach();
}

bool PpdevReader::Failed() const {
    return claim_->state == Claim::kFailed;
}

PortReading PpdevReader::Inp(std::uint16_t address) {
    unsigned char status = 0;
    if (address != kParallelBase + 1 || claim_->state != Claim::kClaimed ||
        ioctl(claim_->fd, PPRSTATUS, &status) != 0)
        return {std::nullopt, "The parallel port is not claimed."};
    return {status, "Reading the parallel port through ppdev."};
}

namespace {
// ppdev when the port at 0x378 has a device that can be claimed, else /dev/port.
class LinuxPort : public Port {
  public:
    LinuxPort() {
        if (auto device = FindParportDevice("/proc/sys/dev/parport", "/dev", kParallelBase))
            ppdev_ = std::make_unique<PpdevReader>(*device);
    }
    PortReading Inp(std::uint16_t address) override {
        if (ppdev_ && !ppdev_->Failed())
            return ppdev_->Inp(address);
        return devPort_.Inp(address);
    }

  private:
    std::unique_ptr<PpdevReader> ppdev_;
    DevPortReader devPort_{"/dev/port"};
};
} // namespace

std::unique_ptr<Port> MakeSystemPort() {
    return std::make_unique<LinuxPort>();
}

} // namespace larkmoor

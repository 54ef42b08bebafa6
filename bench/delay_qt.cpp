// The bench of the Qt build. The contact is read through the real port's reading thread (on a
// stand-in ppdev device in a stand-in /proc and /dev), and each set runs this build's real clock
// helper, as the program does, with a preloaded library that records the set instead of making
// it. This process also gives up CAP_SYS_TIME for every program it starts, so that nothing it
// starts could set the clock; it refuses to run where that cannot be made sure.
#include "delay.h"
#include "platform/linux/clock_linux.h"
#include "platform/linux/port_linux.h"
#include "platform/qt/window_qt.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <memory>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Reads the contact's status at any ppdev device, opened as a plain file.
class ContactPpdev : public larkmoor::PpdevIo {
  public:
    explicit ContactPpdev(Contact& contact) : contact_(contact) {}
    int OpenAndClaim(const std::string& device) override {
        const int fd = open(device.c_str(), O_RDONLY | O_CLOEXEC);
        return fd < 0 ? -errno : fd;
    }
    int ReadStatus(int, std::uint8_t& status) override {
        status = static_cast<std::uint8_t>(contact_.status.load());
        return 0;
    }
    void Close(int fd) override { close(fd); }

  private:
    Contact& contact_;
};

// The clock the port's thread marks closures on (CLOCK_MONOTONIC).
std::int64_t MonotonicNs() {
    return std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
}

void Write(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text;
}

// The sets the preloaded library recorded, one "set-ns at-ns" line each.
std::vector<RecordedSet> ReadSets(const fs::path& file) {
    std::vector<RecordedSet> sets;
    std::ifstream in(file);
    for (RecordedSet set; in >> set.setUtcNs >> set.atNs;)
        sets.push_back(set);
    return sets;
}

} // namespace

std::function<void()> StartThread(std::function<void()> body) {
    auto thread = std::make_shared<std::thread>(std::move(body));
    return [thread] { thread->join(); };
}

int main(int argc, char** argv) {
    // Root's programs hold what the bounding set holds; no one else's gain a file capability
    // once new privileges are refused.
    prctl(PR_CAPBSET_DROP, CAP_SYS_TIME, 0, 0, 0);
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        (geteuid() == 0 && prctl(PR_CAPBSET_READ, CAP_SYS_TIME, 0, 0, 0) != 0)) {
        std::fprintf(stderr, "cannot keep cap_sys_time from the clock helper: not run\n");
        return 2;
    }
    const int closures = argc > 1 ? std::atoi(argv[1]) : 200;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;

    char name[] = "/tmp/larkmoor-bench-XXXXXX";
    if (!mkdtemp(name))
        return 2;
    const fs::path dir = name;
    Write(dir / "proc/sys/dev/parport/parport0/base-addr", "888\t1656\n");
    Write(dir / "dev/parport0", "");
    Write(dir / "helper", "#!/bin/sh\nexec env LD_PRELOAD=" CLOCK_STUB " LARKMOOR_STUB_RECORD=" +
                              (dir / "sets").string() + " " CLOCK_HELPER " \"$@\"\n");
    fs::permissions(dir / "helper", fs::perms::owner_all);

    Contact contact;
    auto port = larkmoor::MakeFirstParallelPort(
        {dir / "proc", dir / "dev", std::make_shared<ContactPpdev>(contact),
         std::chrono::steady_clock::now, [&] { return contact.nearClosure.load(); }});
    const auto clock = larkmoor::MakeHelperClock(dir / "helper");
    int qtArgc = 1;
    larkmoor::QtWindowSystem windows(qtArgc, argv);
    BenchTarget target{windows, *port, *clock, MonotonicNs, [&] { return ReadSets(dir / "sets"); }};
    const int result = RunDelayBench(target, contact, closures, idleSeconds);
    port.reset();
    fs::remove_all(dir);
    return result;
}

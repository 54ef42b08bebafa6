#include "platform/linux/one_instance_linux.h"

#include "platform/linux/errno_text.h"
#include "version.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <pwd.h>
#include <sstream>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace larkmoor {

namespace {

using Is = Instance::Is;

// How long a start waits for the running one's answer.
constexpr int kAnswerWaitMs = 2000;

// Each user's own: the sticky folder lets nobody else remove or replace it.
std::string SocketPath(const std::string& folder, uid_t uid) {
    return folder + "/" + std::to_string(uid) + ".socket";
}

bool Address(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

Fd Socket() {
    return Fd(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

void Send(int fd, const std::string& text) {
    (void)send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// One line from `fd` within `waitMs`, without its end; empty when none came.
std::string ReadLine(int fd, int waitMs) {
    std::string line;
    for (char c = 0; line.size() < 4096;) {
        const ssize_t got = recv(fd, &c, 1, MSG_DONTWAIT);
        if (got == 1 && c == '\n')
            return line;
        if (got == 1) {
            line += c;
            continue;
        }
        pollfd ready{fd, POLLIN, 0};
        if (got == 0 || errno != EAGAIN || poll(&ready, 1, waitMs) <= 0)
            break;
    }
    return {};
}

std::string UserName(uid_t uid) {
    passwd entry{}, *found = nullptr;
    char buffer[1024];
    return getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found
               ? found->pw_name
               : "uid " + std::to_string(uid);
}

// The process that holds the flock on `lock`, as the kernel lists it, and its user; pid 0 when
// none is listed.
std::pair<pid_t, uid_t> LockHolder(int lock) {
    struct stat held {};
    if (fstat(lock, &held) != 0)
        return {0, 0};
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(held.st_dev), minor(held.st_dev),
                  static_cast<unsigned long long>(held.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, advisory, access, file;
        pid_t pid = 0;
        struct stat process {};
        if (fields >> number >> kind >> advisory >> access >> pid >> file && kind == "FLOCK" &&
            file == id && stat(("/proc/" + std::to_string(pid)).c_str(), &process) == 0)
            return {pid, process.st_uid};
    }
    return {0, 0};
}

// Where later starts ask: this user's last socket replaced. None when it cannot be made; the
// program then runs all the same, and later starts say that it does not answer.
Fd Listen(const std::string& folder) {
    const std::string path = SocketPath(folder, getuid());
    sockaddr_un address;
    Fd fd = Address(path, address) ? Socket() : Fd();
    if (!fd)
        return {};
    unlink(path.c_str());
    // Members of the group, whatever their umask, may connect: they are told who holds the PC.
    if (bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path.c_str(), 0660) != 0 || listen(fd.Get(), 8) != 0)
        return {};
    return fd;
}

// Asks the one holding the lock to show its window, and says who it is. Only the lock's holder
// is asked: a socket that another process put in its place is not heard.
Instance Ask(const std::string& folder, const Seat& me, Fd lock) {
    const auto [holder, uid] = LockHolder(lock.Get());
    std::string answer;
    sockaddr_un address;
    const Fd fd = holder > 0 && Address(SocketPath(folder, uid), address) ? Socket() : Fd();
    ucred peer{};
    socklen_t length = sizeof peer;
    if (fd && connect(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        getsockopt(fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid == holder) {
        Send(fd.Get(), me.display + '\t' + me.token + '\n');
        answer = ReadLine(fd.Get(), kAnswerWaitMs);
    }
    if (answer == "shown")
        return {Is::kShown};
    const std::string who =
        holder > 0 ? " for the user " + UserName(uid) + " (process " + std::to_string(holder) + ")"
                   : "";
    const std::string where = answer.starts_with("elsewhere ") && answer.size() > 10
                                  ? ", on the display " + answer.substr(10)
                              : answer.empty() ? ", but it does not answer"
                                               : "";
    return {Is::kElsewhere,
            std::move(lock),
            {},
            std::string(kTitle) + " already runs on this PC" + who + where +
                ".\nOnly one may run, since each sets the clock and reads the port. This one "
                "starts by itself once that one has ended."};
}

Instance Refused(const std::string& why) {
    return {Is::kRefused,
            {},
            {},
            std::string(kTitle) + " cannot make sure that it runs only once on this PC: " + why};
}

} // namespace

std::string InstanceFolder(const std::string& packageFolder, uid_t uid) {
    if (access(packageFolder.c_str(), F_OK) == 0 || errno != ENOENT)
        return packageFolder;
    const std::string runtime = "/run/user/" + std::to_string(uid);
    const std::string own = access(runtime.c_str(), W_OK) == 0
                                ? runtime + "/larkmoor"
                                : "/tmp/larkmoor-" + std::to_string(uid);
    (void)mkdir(own.c_str(), 0700); // FindInstance checks whose it is
    return own;
}

Seat ThisSeat() {
    const auto env = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value ? value : "");
    };
    const std::string wayland = env("WAYLAND_DISPLAY");
    const std::string token = env("XDG_ACTIVATION_TOKEN");
    return {getuid(), wayland.empty() ? env("DISPLAY") : "wayland " + wayland,
            token.empty() ? env("DESKTOP_STARTUP_ID") : token};
}

Instance FindInstance(const std::string& folder, const Seat& me) {
    // Root's or this user's alone, else anyone could make a second lock beside it.
    struct stat place {};
    if (lstat(folder.c_str(), &place) != 0)
        return Refused(folder + " cannot be opened: " + Errno(errno) +
                       ".\nAdd this user to the group larkmoor and log in again.");
    if (!S_ISDIR(place.st_mode) || (place.st_uid != 0 && place.st_uid != me.uid) ||
        (place.st_mode & S_IWOTH) || ((place.st_mode & S_IWGRP) && !(place.st_mode & S_ISVTX)))
        return Refused(folder + " is not a folder that only root and the group larkmoor may change "
                                "(another user made it?): remove it, or reinstall the package.");
    const std::string path = folder + "/lock";
    // Not blocking: a FIFO put in its place would hold up the open until someone writes to it.
    Fd lock(open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0640));
    if (!lock)
        return Refused(path + " cannot be opened: " + Errno(errno) +
                       ".\nAdd this user to the group larkmoor and log in again.");
    struct stat file {};
    if (fstat(lock.Get(), &file) != 0 || !S_ISREG(file.st_mode))
        return Refused(path + " is not a plain file: reinstall the package.");
    (void)fchmod(lock.Get(), 0640); // where this start made it, against a narrow umask
    Instance found{Is::kElsewhere, std::move(lock)};
    return TakeOver(found, folder) ? std::move(found) : Ask(folder, me, std::move(found.lock));
}

bool TakeOver(Instance& instance, const std::string& folder) {
    if (flock(instance.lock.Get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    instance = {Is::kFirst, std::move(instance.lock), Listen(folder)};
    return true;
}

std::optional<std::string> Requests::Answer(std::chrono::steady_clock::time_point now) {
    for (int fd; (fd = accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0;) {
        if (callers_.size() == kMaxCallers)
            callers_.erase(callers_.begin());
        callers_.push_back({Fd(fd), "", now});
    }
    std::optional<std::string> show;
    std::erase_if(callers_, [&](Caller& caller) {
        char text[256];
        ssize_t got = 0;
        while (caller.line.find('\n') == std::string::npos && caller.line.size() < 4096 &&
               (got = recv(caller.fd.Get(), text, sizeof text, MSG_DONTWAIT)) > 0)
            caller.line.append(text, got);
        const std::size_t end = caller.line.find('\n');
        if (end == std::string::npos && got != 0 && now - caller.since < kRequestWait &&
            caller.line.size() < 4096)
            return false; // its line may still come
        const std::string line = caller.line.substr(0, end);
        const std::size_t tab = line.find('\t');
        ucred peer{};
        socklen_t length = sizeof peer;
        const bool here =
            end != std::string::npos &&
            getsockopt(caller.fd.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
            peer.uid == me_.uid && tab != std::string::npos && line.substr(0, tab) == me_.display;
        Send(caller.fd.Get(), here ? "shown\n" : "elsewhere " + me_.display + "\n");
        if (here)
            show = line.substr(tab + 1);
        return true;
    });
    return show;
}

} // namespace larkmoor

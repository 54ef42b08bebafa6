#include "platform/linux/one_instance_linux.h"

#include "platform/linux/errno_text.h"
#include "version.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace larkmoor {

namespace {

using Is = Instance::Is;

// How long a start waits for the running one's answer; how long the running one waits for the
// line of a start that has connected (it writes it at once: only a member of larkmoor could
// connect and write nothing, and it holds up the window for no longer than this).
constexpr int kAnswerWaitMs = 2000;
constexpr int kRequestWaitMs = 100;

std::string SocketPath(const std::string& folder) {
    return folder + "/socket";
}

bool Address(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int Socket() {
    return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

void Send(int fd, const std::string& text) {
    (void)send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// One line from `fd` within `waitMs`, without its end; empty when none came.
std::string ReadLine(int fd, int waitMs) {
    using namespace std::chrono;
    const auto until = steady_clock::now() + milliseconds(waitMs);
    std::string line;
    for (char c = 0; line.size() < 4096;) {
        const ssize_t got = recv(fd, &c, 1, MSG_DONTWAIT);
        if (got == 1 && c == '\n')
            return line;
        if (got == 1) {
            line += c;
            continue;
        }
        const auto left = duration_cast<milliseconds>(until - steady_clock::now()).count();
        if (got == 0 || errno != EAGAIN || left <= 0)
            break;
        pollfd ready{fd, POLLIN, 0};
        poll(&ready, 1, static_cast<int>(left));
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

// Where later starts ask: the last holder's socket replaced. -1 when it cannot be made; the
// program then runs all the same, and later starts say that it does not answer.
int Listen(const std::string& folder) {
    const std::string path = SocketPath(folder);
    sockaddr_un address;
    const int fd = Address(path, address) ? Socket() : -1;
    if (fd < 0)
        return -1;
    unlink(path.c_str()); // only the lock's holder touches it
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path.c_str(), 0660) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Asks the one holding the lock to show its window, and who it is.
Instance Ask(const std::string& folder, const Seat& me, int lock) {
    std::string who, answer;
    sockaddr_un address;
    const int fd = Address(SocketPath(folder), address) ? Socket() : -1;
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        ucred peer{};
        socklen_t length = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0)
            who = " for the user " + UserName(peer.uid) + " (process " + std::to_string(peer.pid) +
                  ")";
        Send(fd, me.display + '\t' + me.token + '\n');
        answer = ReadLine(fd, kAnswerWaitMs);
    }
    if (fd >= 0)
        close(fd);
    if (answer == "shown") {
        close(lock);
        return {Is::kShown, -1, -1, ""};
    }
    const std::string where = answer.starts_with("elsewhere ") && answer.size() > 10
                                  ? ", on the display " + answer.substr(10)
                              : answer.empty() ? ", but it does not answer"
                                               : "";
    return {Is::kElsewhere, lock, -1,
            std::string(kTitle) + " already runs on this PC" + who + where +
                ".\nOnly one may run, since each sets the clock and reads the port. This one "
                "starts by itself once that one has ended."};
}

} // namespace

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
    const std::string path = folder + "/lock";
    const int lock = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0640);
    const int error = lock < 0 ? errno : 0;
    if (error == ENOENT)
        return {};
    if (error != 0)
        return {Is::kRefused, -1, -1,
                std::string(kTitle) + " cannot make sure that it runs only once on this PC: " +
                    path + " cannot be opened: " + Errno(error) +
                    ".\nAdd this user to the group larkmoor and log in again."};
    (void)fchmod(lock, 0640); // where this start made it, against a narrow umask
    Instance found{Is::kElsewhere, lock, -1, ""};
    return TakeOver(found, folder) ? found : Ask(folder, me, lock);
}

bool TakeOver(Instance& instance, const std::string& folder) {
    if (flock(instance.lock, LOCK_EX | LOCK_NB) != 0)
        return false;
    instance = {Is::kFirst, instance.lock, Listen(folder), ""};
    return true;
}

std::optional<std::string> AnswerRequests(int listening, const Seat& me) {
    std::optional<std::string> show;
    for (int caller; (caller = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        const std::string line = ReadLine(caller, kRequestWaitMs);
        const std::size_t tab = line.find('\t');
        ucred peer{};
        socklen_t length = sizeof peer;
        const bool here = getsockopt(caller, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
                          peer.uid == me.uid && tab != std::string::npos &&
                          line.substr(0, tab) == me.display;
        Send(caller, here ? "shown\n" : "elsewhere " + me.display + "\n");
        close(caller);
        if (here)
            show = line.substr(tab + 1);
    }
    return show;
}

} // namespace larkmoor

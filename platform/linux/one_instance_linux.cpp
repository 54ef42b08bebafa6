#include "platform/linux/one_instance_linux.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace larkmoor {

namespace {

// An abstract address: a leading NUL, then the name without a terminator.
socklen_t Address(const std::string& name, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

int Socket() {
    return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

// 0 when the holder took the request (a connection is the request) or has a full queue (it is
// there either way); else errno.
int AskHolderToShow(const sockaddr_un& address, socklen_t length) {
    const int fd = Socket();
    const int error =
        fd < 0 || connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ? errno : 0;
    if (fd >= 0)
        close(fd);
    return error == EAGAIN ? 0 : error;
}

} // namespace

std::optional<int> HoldInstanceName(const std::string& name) {
    sockaddr_un address;
    const socklen_t length = Address(name, address);
    // A holder that is ending lets the name go between our bind and our call: try again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = Socket();
        if (fd < 0)
            return -1;
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
            listen(fd, 8) == 0)
            return fd;
        const int error = errno;
        close(fd);
        if (error != EADDRINUSE)
            return -1;
        if (AskHolderToShow(address, length) == 0)
            return std::nullopt;
    }
    return -1;
}

bool TakeShowRequests(int listening) {
    bool asked = false;
    for (int caller; (caller = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        close(caller);
        asked = true;
    }
    return asked;
}

} // namespace larkmoor

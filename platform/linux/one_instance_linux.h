#pragma once

// One Larkmoor per PC, whoever starts it: two would both set the clock and both want the port.
// The running one holds a lock (flock) on a file in a folder that only root and the members of
// the group larkmoor may open, so nobody else can take it, and it does not depend on network
// namespaces; the kernel lets the lock go with the process, however it ends. Beside the lock it
// listens on a socket of its user's, where a later start asks for its window and learns who holds
// the PC. A member of the group may write in the folder, but the sticky bit keeps the lock (made
// by the package, owned by root) and each user's socket from the others, and an answer counts only
// from the process that the kernel lists as the lock's holder.

#include "platform/linux/handles_linux.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace larkmoor {

// Shipped by the package, root:larkmoor, mode 3770 (setgid, sticky), with the lock in it: kept
// across restarts, whatever runs the PC's boot (systemd or not).
inline constexpr const char* kInstanceFolder = "/var/lib/larkmoor";

// Where the package's folder is missing (a build tree): this user's own folder, made 0700, so
// that at least one Larkmoor runs per user.
std::string InstanceFolder(const std::string& packageFolder, uid_t uid);

// Who a Larkmoor runs for and where its window is; for a later start, also the token that lets
// the running window come to the front (Wayland's activation token, else X11's startup id).
struct Seat {
    uid_t uid = 0;
    std::string display;
    std::string token;
};
Seat ThisSeat();

// What a start finds in `folder`.
struct Instance {
    enum class Is {
        kFirst,     // this process holds the PC (`lock` held; `listening` takes the requests)
        kShown,     // the running one, on this seat, has shown its window
        kElsewhere, // one runs for another user or display, or does not answer: `message`
        kRefused,   // the lock cannot be taken at all: `message` says why
    } is = Is::kFirst;
    Fd lock{};
    Fd listening{};
    std::string message{};
};

// Takes the PC, or asks the one that holds it to show its window.
Instance FindInstance(const std::string& folder, const Seat& me);

// For kElsewhere: true once the other one has ended and this one holds the PC (then kFirst).
bool TakeOver(Instance& instance, const std::string& folder);

// The holder's answers to later starts, given without ever waiting: a caller that has connected
// but not yet written its line is kept (at most kMaxCallers, the oldest dropped first) until its
// line comes or kRequestWait has passed.
class Requests {
  public:
    Requests(int listening, Seat me) : listening_(listening), me_(std::move(me)) {}
    // Takes new callers and answers those whose line has come. The token of a start on this
    // seat, whose window is to be shown; nothing when no such start asked.
    std::optional<std::string> Answer(std::chrono::steady_clock::time_point now);
    // True while a caller waits for its answer: Answer is to be called again soon.
    bool Waiting() const { return !callers_.empty(); }

    static constexpr std::chrono::milliseconds kRequestWait{2000};
    static constexpr std::size_t kMaxCallers = 16;

  private:
    struct Caller {
        Fd fd;
        std::string line;
        std::chrono::steady_clock::time_point since;
    };
    int listening_;
    Seat me_;
    std::vector<Caller> callers_;
};

} // namespace larkmoor

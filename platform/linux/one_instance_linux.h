#pragma once

// One Larkmoor per PC, whoever starts it: two would both set the clock and both want the port.
// The running one holds a lock (flock) on a file in a folder that only root and the members of
// the group larkmoor may open, so nobody else can take it, and it does not depend on network
// namespaces; the kernel lets the lock go with the process, however it ends. Beside the lock it
// listens on a socket, where a later start asks for its window and learns who holds the PC.

#include <optional>
#include <string>
#include <sys/types.h>

namespace larkmoor {

// Made at boot by the package's tmpfiles.d entry: root:larkmoor, mode 2770.
inline constexpr const char* kInstanceFolder = "/run/larkmoor";

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
    int lock = -1;
    int listening = -1;
    std::string message;
};

// Takes the PC, or asks the one that holds it to show its window. Where `folder` does not exist
// (a build tree on a PC without the package) the program runs unchecked: kFirst without a lock.
Instance FindInstance(const std::string& folder, const Seat& me);

// For kElsewhere: true once the other one has ended and this one holds the PC (then kFirst).
bool TakeOver(Instance& instance, const std::string& folder);

// Answers every request waiting on `listening`. The token of a start on `me`'s seat, whose
// window is to be shown; nothing when no such start asked.
std::optional<std::string> AnswerRequests(int listening, const Seat& me);

} // namespace larkmoor

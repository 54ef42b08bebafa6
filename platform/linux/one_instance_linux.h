#pragma once

#include <optional>
#include <string>

namespace larkmoor {

// The name the running Larkmoor holds in the abstract socket namespace: one name for every user
// of the PC (two users' programs would both set the clock and both want the port), no file to
// create or leave behind, and the kernel lets it go with the process that held it.
inline constexpr const char* kInstanceName = "larkmoor";

// Makes this process the one holding `name`: a listening descriptor on which each later start
// asks for the window; or nothing when another process holds it, which has then been asked to
// show its window. Where the socket cannot be made at all, a descriptor of -1: the program runs
// without knowing of others rather than not at all.
std::optional<int> HoldInstanceName(const std::string& name = kInstanceName);

// Takes every request waiting on `listening`; true when there was one.
bool TakeShowRequests(int listening);

} // namespace larkmoor

#pragma once

// One Larkmoor per PC: two would both set the clock and both want the port, even when they run in
// two users' sessions.

#include <functional>
#include <string>

namespace larkmoor {

// Makes this process the one Larkmoor of the PC, in whichever session it runs: true once it holds
// the PC, which it then does until it ends. Where the running one is in this session, it is asked
// to bring its main window, titled `title`, to the front, and the result is false: this process
// should end. Where it runs in another session, `tell` is given what to say, and this waits until
// that one ends; a later start in this session then brings what was told to the front and ends.
// A start that `holdsRight` to set the clock takes over from a running one that lacks it, which
// `end`s its process when asked.
bool HoldThePc(const std::string& title, const std::function<void(const std::string&)>& tell,
               bool holdsRight = true, const std::function<void()>& end = {});

// The rights that every signed-in user (Authenticated Users) holds on a kernel object, by the
// object's own list; 0 where this process may not read it.
unsigned long AllowedToEveryUser(void* object);

} // namespace larkmoor

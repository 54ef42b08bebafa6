#pragma once

// One Larkmoor per PC: two would both set the clock and both want the port, even when they run in
// two users' sessions.

namespace larkmoor {

// True when no other Larkmoor runs on this PC, in any session; this one then holds the PC until
// it ends. Otherwise the running main window, titled `title`, is brought to the front (or, where
// it runs in another user's session, the user is told so) and this process should end.
bool FirstOnThisPc(const char* title);

} // namespace larkmoor

#pragma once

// The port host: a process of its own (larkmoor.exe started with a switch) that loads the port
// library and reads the port, so that no third-party code runs in the window's process. The two
// share one page of memory: the window asks for readings and says where and how often to read;
// the host publishes each reading there, which the window takes at its tick without waiting. A
// host that stops publishing or crashes is "No Port" with its reason, and is started again.

#include "platform/registry.h"
#include "platform/win32/port_win32.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace larkmoor {

// The page the window and its port host share. The host writes a reading between two steps of
// `sequence` (odd while it writes), so that a copy taken between two equal even values is whole.
struct PortPage {
    // Written by the window.
    volatile LONG address; // the register to read; 0 while none may be read
    volatile LONG fast;    // nonzero: read every millisecond, not only when asked
    // Written by the host.
    volatile LONG sequence;
    LONG status; // the byte read, or -1 when none could be read
    LONG address_read;
    LONG closed; // nonzero: closedAtNs holds the instant the contact was first seen closed
    LONGLONG closedAtNs;
    char note[480];    // the library read through, or why there was no reading
    char crashed[480]; // where the host crashed, written as it ends
};

// The handles a host is started with, inherited from the window's process.
struct HostHandles {
    HANDLE page;   // the shared page's file mapping
    HANDLE asked;  // set by the window for each reading it wants
    HANDLE parent; // the window's process: the host ends when it does
};
// The command line that starts `program` as a port host, and the handles it names.
std::string HostCommandLine(const std::string& program, const HostHandles& handles);
std::optional<HostHandles> ParseHostCommandLine(const char* commandLine);

// The host's side: reads `port` whenever asked, and every millisecond while the page says so, and
// publishes each reading marked with the closure's instant, until the window's process ends.
// Nothing is read before the first request. Returns the process's exit code.
int ServePortPage(PortPage& page, const HostHandles& handles, Port& port);
// Runs the host in this process: the library port, crash reports into the page, the timer
// resolution kept.
int RunPortHost(const HostHandles& handles);

// The window's side: the port read through a host started from `hostProgram`, at the status
// register `chosen` names. A host that has not published for a second, or that ended, is ended
// and started again when the port library's files change, or a minute later.
std::unique_ptr<Port> MakeHostedPort(std::string hostProgram, ChosenRegister chosen,
                                     TickCount ticks, std::function<bool()> nearClosure,
                                     std::unique_ptr<Registry> registry);

// How long a host may go without publishing before it counts as stuck.
inline constexpr std::uint32_t kHostPatienceMs = 1000;

} // namespace larkmoor

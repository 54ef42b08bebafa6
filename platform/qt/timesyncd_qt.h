#pragma once

#include <optional>

namespace larkmoor {

// Whether systemd-timesyncd is enabled, as systemd itself (always on the bus where it runs) says;
// nothing where it cannot be asked. Waits up to a second for the bus. Never starts a service to
// answer: systemd-timedated, which timedatectl asks, would be started by the bus at every ask and
// kept from ever idling out.
std::optional<bool> TimesyncdEnabled();

} // namespace larkmoor

#pragma once

#include <windows.h>

#include <string>

namespace larkmoor {

// The system's own message for `code`, with the code: "Access is denied (error 5)."
std::string SystemMessage(DWORD code);

} // namespace larkmoor
